# tests/tools/check_image_cases.cmake: the image check on a table of images,
# made here: each bad image must fail with a message that names the option,
# the file and the reason; each good one must pass.
# -DMAKE_FIRMWARE=<tool> -DCHECK_SCRIPT=<cmake/firmware.cmake> -DWORK_DIR=<scratch>
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

function(make_image file size version)
    execute_process(COMMAND "${MAKE_FIRMWARE}" "${file}" ${size} "nuv2200" "${version}"
        RESULT_VARIABLE status ERROR_VARIABLE errors)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "make_firmware ${file} ${size}: ${errors}")
    endif()
endfunction()

function(make_text_file file length)
    string(REPEAT "x" ${length} text)
    file(WRITE "${file}" "${text}")
endfunction()

math(EXPR limit "65535 * 512")
math(EXPR largest "${limit} - 1")
file(MAKE_DIRECTORY "${WORK_DIR}/a-directory")
make_text_file("${WORK_DIR}/100-bytes.bin" 100)
make_text_file("${WORK_DIR}/127-bytes.bin" 127)
# Letters everywhere: the version field has no NUL.
make_text_file("${WORK_DIR}/no-nul.bin" 4096)
make_image("${WORK_DIR}/65535-blocks.bin" ${limit} "1.0")
make_image("${WORK_DIR}/largest.bin" ${largest} "1.0")
make_image("${WORK_DIR}/header-only.bin" 128 "1.0")
# The longest version: its NUL is the header's last byte.
make_image("${WORK_DIR}/longest-version.bin" 4096 "12345678901234567890123456789012345")

# file | expected: PASS, or a piece of the reason
set(cases
    "missing.bin|no such file, or it cannot be read"
    "a-directory|it is a directory, not a file"
    "100-bytes.bin|100 bytes is shorter than the 128-byte header"
    "127-bytes.bin|127 bytes is shorter than the 128-byte header"
    "no-nul.bin|no NUL byte ends the version text within bytes 92 to 127"
    "65535-blocks.bin|${limit} bytes is 65535 blocks of 512 bytes or more"
    "largest.bin|PASS"
    "header-only.bin|PASS"
    "longest-version.bin|PASS")

set(failures "")
foreach(case IN LISTS cases)
    string(REPLACE "|" ";" fields "${case}")
    list(GET fields 0 name)
    list(GET fields 1 expected)
    set(file "${WORK_DIR}/${name}")
    execute_process(COMMAND ${CMAKE_COMMAND}
            -DNUV_CHECK_OPTION=NUV_ADAPTER_IMAGE -DNUV_CHECK_FILE=${file} -P "${CHECK_SCRIPT}"
        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    # CMake wraps long messages: compare with the white space folded.
    string(REGEX REPLACE "[ \t\r\n]+" " " said "${out}${err}")
    if(expected STREQUAL "PASS")
        if(NOT status EQUAL 0 OR NOT said STREQUAL "")
            string(APPEND failures "\n  ${name}: should pass, got status ${status}: ${said}")
        endif()
        continue()
    endif()
    if(status EQUAL 0)
        string(APPEND failures "\n  ${name}: should fail (${expected}), but passed")
        continue()
    endif()
    foreach(part "NUV_ADAPTER_IMAGE names a firmware image that cannot be served" "${file}" "${expected}")
        string(FIND "${said}" "${part}" at)
        if(at LESS 0)
            string(APPEND failures "\n  ${name}: the message lacks '${part}': ${said}")
        endif()
    endforeach()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
if(NOT failures STREQUAL "")
    message(FATAL_ERROR "image check:${failures}")
endif()
