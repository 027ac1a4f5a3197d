# tests/tools/check_image_option.cmake: a configure of the whole project
# with a build option naming an image that cannot be served must stop, and
# say which option, which file and why.
# -DSOURCE_DIR=<project> -DGENERATOR=<generator> -DWORK_DIR=<scratch>
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
string(REPEAT "x" 100 text)
set(image "${WORK_DIR}/100-bytes.bin")
file(WRITE "${image}" "${text}")

execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/build" -G "${GENERATOR}"
        "-DNUV_TRANSITION_IMAGE=${image}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REGEX REPLACE "[ \t\r\n]+" " " said "${err}")
set(failures "")
if(status EQUAL 0)
    set(failures "\n  the configure succeeded")
endif()
foreach(part "NUV_TRANSITION_IMAGE names a firmware image that cannot be served" "${image}"
             "100 bytes is shorter than the 128-byte header")
    string(FIND "${said}" "${part}" at)
    if(at LESS 0)
        string(APPEND failures "\n  the configure's message lacks '${part}'")
    endif()
endforeach()
file(REMOVE_RECURSE "${WORK_DIR}")
if(NOT failures STREQUAL "")
    message(FATAL_ERROR "configure with a bad NUV_TRANSITION_IMAGE:${failures}\n${out}\n${err}")
endif()
