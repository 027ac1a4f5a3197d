# cmake/firmware.cmake: the firmware images the programs carry: the build
# options that name them, the check that refuses an image the upgrader
# cannot serve, and the synthetic images that tools/make_firmware makes at
# build time when no option names a file.
#
# The check also runs as a script, so that it can be tried on its own:
#   cmake -DNUV_CHECK_OPTION=<option> -DNUV_CHECK_FILE=<file> -P cmake/firmware.cmake
# fails with the same message a configure would.

# The header is 128 bytes; the version text starts at 92 and must end with
# a NUL inside the header. TFTP block numbers have 16 bits and the session
# compares its block count in full, so an image needs fewer than 65535
# blocks of 512 bytes.
set(NUV_FIRMWARE_HEADER_SIZE 128)
set(NUV_FIRMWARE_VERSION_OFFSET 92)
math(EXPR NUV_FIRMWARE_SIZE_LIMIT "65535 * 512")

# nuv_firmware_problem(<file> <out-var>): sets <out-var> to why <file>
# cannot be served, or to an empty text when it can.
function(nuv_firmware_problem file out)
    set(problem "")
    # EXISTS is also false for a file that cannot be read.
    if(NOT EXISTS "${file}")
        set(problem "no such file, or it cannot be read")
    elseif(IS_DIRECTORY "${file}")
        set(problem "it is a directory, not a file")
    else()
        file(SIZE "${file}" size)
        if(size LESS NUV_FIRMWARE_HEADER_SIZE)
            set(problem "${size} bytes is shorter than the ${NUV_FIRMWARE_HEADER_SIZE}-byte header")
        elseif(size GREATER_EQUAL NUV_FIRMWARE_SIZE_LIMIT)
            set(problem "${size} bytes is 65535 blocks of 512 bytes or more, more than TFTP can number (at most ${NUV_FIRMWARE_SIZE_LIMIT} - 1 bytes)")
        else()
            nuv_firmware_version("${file}" version found)
            if(NOT found)
                set(problem "no NUL byte ends the version text within bytes 92 to 127 of the header")
            endif()
        endif()
    endif()
    set(${out} "${problem}" PARENT_SCOPE)
endfunction()

# nuv_firmware_version(<file> <version-var> <found-var>): the version text
# of a header; <found-var> is false when no NUL ends it within the header.
function(nuv_firmware_version file version_var found_var)
    math(EXPR length "${NUV_FIRMWARE_HEADER_SIZE} - ${NUV_FIRMWARE_VERSION_OFFSET}")
    file(READ "${file}" hex OFFSET ${NUV_FIRMWARE_VERSION_OFFSET} LIMIT ${length} HEX)
    string(LENGTH "${hex}" digits)
    set(version "")
    set(found FALSE)
    set(i 0)
    while(i LESS digits)
        string(SUBSTRING "${hex}" ${i} 2 pair)
        if(pair STREQUAL "00")
            set(found TRUE)
            break()
        endif()
        math(EXPR code "0x${pair}")
        string(ASCII ${code} character)
        string(APPEND version "${character}")
        math(EXPR i "${i} + 2")
    endwhile()
    set(${version_var} "${version}" PARENT_SCOPE)
    set(${found_var} ${found} PARENT_SCOPE)
endfunction()

# nuv_check_firmware_image(<option> <file>): stops the configure, naming
# the option, the file and the reason, when <file> cannot be served.
function(nuv_check_firmware_image option file)
    nuv_firmware_problem("${file}" problem)
    if(NOT problem STREQUAL "")
        message(FATAL_ERROR "${option} names a firmware image that cannot be served: ${file}: ${problem}")
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    if(NOT DEFINED NUV_CHECK_OPTION OR NOT DEFINED NUV_CHECK_FILE)
        message(FATAL_ERROR "usage: cmake -DNUV_CHECK_OPTION=<option> -DNUV_CHECK_FILE=<file> -P firmware.cmake")
    endif()
    nuv_check_firmware_image("${NUV_CHECK_OPTION}" "${NUV_CHECK_FILE}")
    return()
endif()

# ---- build options --------------------------------------------------------

set(NUV_TARGET_IMAGE "" CACHE FILEPATH
    "Firmware image of nuv-upgrade (empty: the synthetic release image)")
set(NUV_ADAPTER_IMAGE "" CACHE FILEPATH
    "Firmware image of nuv-upgrade-adapter (empty: a synthetic adapter image)")
set(NUV_TRANSITION_TARGET_IMAGE "" CACHE FILEPATH
    "Target image of nuv-upgrade-transition (empty: the synthetic adapter image)")
set(NUV_TRANSITION_IMAGE "" CACHE FILEPATH
    "Transition image of nuv-upgrade-transition (empty: an older synthetic adapter image)")
set(NUV_HOST_CXX_COMPILER "" CACHE FILEPATH
    "C++ compiler of the build machine for tools/ in a cross build (empty: CMake's choice)")

# ---- the image maker --------------------------------------------------------

# A cross build cannot run what it compiles: tools/ is then built as a
# project of its own for the build machine.
if(CMAKE_CROSSCOMPILING)
    include(ExternalProject)
    set(host_tools_dir "${CMAKE_BINARY_DIR}/host-tools")
    set(host_suffix "")
    if(CMAKE_HOST_WIN32)
        set(host_suffix ".exe")
    endif()
    set(host_args -DCMAKE_BUILD_TYPE=Release -DNUV_WERROR=${NUV_WERROR})
    if(NOT NUV_HOST_CXX_COMPILER STREQUAL "")
        list(APPEND host_args -DCMAKE_CXX_COMPILER=${NUV_HOST_CXX_COMPILER})
    endif()
    # BUILD_ALWAYS: the tools' own build decides whether anything changed.
    ExternalProject_Add(nuv_host_tools
        SOURCE_DIR "${CMAKE_SOURCE_DIR}/tools"
        BINARY_DIR "${host_tools_dir}"
        CMAKE_ARGS ${host_args}
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON
        BUILD_BYPRODUCTS "${host_tools_dir}/make_firmware${host_suffix}"
                         "${host_tools_dir}/make_icon${host_suffix}")
    set(NUV_MAKE_FIRMWARE "${host_tools_dir}/make_firmware${host_suffix}")
    set(nuv_make_firmware_depends nuv_host_tools "${NUV_MAKE_FIRMWARE}")
else()
    # The make_firmware target comes from tools/, added after this file.
    set(NUV_MAKE_FIRMWARE "$<TARGET_FILE:make_firmware>")
    set(nuv_make_firmware_depends make_firmware)
endif()

# ---- the images ---------------------------------------------------------------

set(NUV_FIRMWARE_DIR "${CMAKE_BINARY_DIR}/firmware")
set(nuv_synthetic_images "")

# nuv_synthetic_image(<file> <size> <key> <version>): <file> is made at
# build time.
function(nuv_synthetic_image file size key version)
    add_custom_command(OUTPUT "${file}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${NUV_FIRMWARE_DIR}"
        COMMAND ${NUV_MAKE_FIRMWARE} "${file}" ${size} "${key}" "${version}"
        DEPENDS ${nuv_make_firmware_depends}
        COMMENT "Making the synthetic firmware image ${file}"
        VERBATIM)
    set(nuv_synthetic_images ${nuv_synthetic_images} "${file}" PARENT_SCOPE)
endfunction()

# nuv_choose_image(<prefix> <option> <file> <size> <key> <version>): the
# file named by <option>, checked now, or else the synthetic image
# described by the rest. Sets <prefix>_FILE, _VERSION and _SIZE.
macro(nuv_choose_image prefix option file size key version)
    if("${${option}}" STREQUAL "")
        nuv_synthetic_image("${file}" ${size} "${key}" "${version}")
        set(${prefix}_FILE "${file}")
        set(${prefix}_VERSION "${version}")
        set(${prefix}_SIZE ${size})
    else()
        get_filename_component(${prefix}_FILE "${${option}}" ABSOLUTE BASE_DIR "${CMAKE_BINARY_DIR}")
        nuv_check_firmware_image(${option} "${${prefix}_FILE}")
        nuv_firmware_version("${${prefix}_FILE}" ${prefix}_VERSION nuv_found)
        file(SIZE "${${prefix}_FILE}" ${prefix}_SIZE)
        # A changed file must re-run the configure, which checked it.
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${${prefix}_FILE}")
    endif()
endmacro()

# The release image is always made, whatever the options say: the tests
# check the image maker's output through it.
set(NUV_SYNTHETIC_RELEASE_IMAGE_FILE "${NUV_FIRMWARE_DIR}/nuv-release.bin")
set(NUV_SYNTHETIC_RELEASE_IMAGE_VERSION "4.1.12(a)")
if(NOT NUV_TARGET_IMAGE STREQUAL "")
    nuv_synthetic_image("${NUV_SYNTHETIC_RELEASE_IMAGE_FILE}" 751211 "tOrVaN9 fIrMwArE" "4.1.12(a)")
endif()
nuv_choose_image(NUV_RELEASE_IMAGE NUV_TARGET_IMAGE
    "${NUV_SYNTHETIC_RELEASE_IMAGE_FILE}" 751211 "tOrVaN9 fIrMwArE" "4.1.12(a)")
# Adapter images: the transition image is a whole number of blocks, so its
# transfer ends with an empty DATA block; the target image is not.
nuv_choose_image(NUV_ADAPTER_IMAGE NUV_ADAPTER_IMAGE
    "${NUV_FIRMWARE_DIR}/nuv-adapter.bin" 412345 "nuv2200" "2.4.1(c)")
if(NUV_TRANSITION_TARGET_IMAGE STREQUAL "" AND NUV_ADAPTER_IMAGE STREQUAL "")
    # The same synthetic image as the adapter program's: made once.
    set(NUV_TRANSITION_TARGET_IMAGE_FILE "${NUV_ADAPTER_IMAGE_FILE}")
    set(NUV_TRANSITION_TARGET_IMAGE_VERSION "${NUV_ADAPTER_IMAGE_VERSION}")
    set(NUV_TRANSITION_TARGET_IMAGE_SIZE ${NUV_ADAPTER_IMAGE_SIZE})
else()
    nuv_choose_image(NUV_TRANSITION_TARGET_IMAGE NUV_TRANSITION_TARGET_IMAGE
        "${NUV_FIRMWARE_DIR}/nuv-transition-target.bin" 412345 "nuv2200" "2.4.1(c)")
endif()
nuv_choose_image(NUV_TRANSITION_IMAGE NUV_TRANSITION_IMAGE
    "${NUV_FIRMWARE_DIR}/nuv-transition.bin" 356864 "nuv2200" "2.0.9(t)")

# Programs and tests that embed or read an image depend on this target.
add_custom_target(nuv_firmware_images ALL DEPENDS ${nuv_synthetic_images})
