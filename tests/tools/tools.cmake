# tests/tools/tools.cmake: the build's helpers and what they make: the
# synthetic firmware images, the icons, and the check that refuses an image
# the upgrader cannot serve.
set(TOOLS_TEST_WORK "${CMAKE_CURRENT_BINARY_DIR}/tools_work")

add_executable(tools_tests tools/test_firmware_image.cpp tools/test_icons.cpp)
target_link_libraries(tools_tests PRIVATE GTest::gtest_main)
target_compile_definitions(tools_tests PRIVATE
    MAKE_FIRMWARE="$<TARGET_FILE:make_firmware>"
    SYNTHETIC_RELEASE_IMAGE="${NUV_SYNTHETIC_RELEASE_IMAGE_FILE}"
    PROGRAM_ICON="${CMAKE_SOURCE_DIR}/resources/program.ico"
    ADAPTER_ICON="${CMAKE_SOURCE_DIR}/resources/adapter.ico"
    TOOLS_TEST_WORK="${TOOLS_TEST_WORK}/tools_tests")
add_dependencies(tools_tests make_firmware nuv_firmware_images)
gtest_discover_tests(tools_tests DISCOVERY_TIMEOUT 30)

# The icons are kept in the tree so the Windows build needs no tool for
# them; these tests keep them what the pictures in tools/make_icon.cpp draw.
foreach(picture program adapter)
    add_test(NAME icon_${picture}_is_redrawn_byte_for_byte
        COMMAND ${CMAKE_COMMAND}
            -DMAKE_ICON=$<TARGET_FILE:make_icon>
            -DPICTURE=${picture}
            -DEXPECTED=${CMAKE_SOURCE_DIR}/resources/${picture}.ico
            -DOUTPUT=${TOOLS_TEST_WORK}/${picture}.ico
            -P ${CMAKE_CURRENT_SOURCE_DIR}/tools/regenerate_icon.cmake)
endforeach()

add_test(NAME firmware_check_refuses_unservable_images
    COMMAND ${CMAKE_COMMAND}
        -DMAKE_FIRMWARE=$<TARGET_FILE:make_firmware>
        -DCHECK_SCRIPT=${CMAKE_SOURCE_DIR}/cmake/firmware.cmake
        -DWORK_DIR=${TOOLS_TEST_WORK}/check
        -P ${CMAKE_CURRENT_SOURCE_DIR}/tools/check_image_cases.cmake)

add_test(NAME firmware_option_with_unservable_image_fails_configure
    COMMAND ${CMAKE_COMMAND}
        -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
        -DGENERATOR=${CMAKE_GENERATOR}
        -DWORK_DIR=${TOOLS_TEST_WORK}/configure
        -P ${CMAKE_CURRENT_SOURCE_DIR}/tools/check_image_option.cmake)
