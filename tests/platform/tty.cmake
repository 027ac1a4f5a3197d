# tests/platform/tty.cmake: whole upgrades under the terminal front end,
# driven by keys through tmux. Paths are relative to tests/.
add_executable(tty_tests
    platform/test_tty.cpp
    tools/sim_process.cpp
)
target_include_directories(tty_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(tty_tests PRIVATE GTest::gtest_main)
set(nuv_tty_work "${CMAKE_CURRENT_BINARY_DIR}/tty_work")
file(MAKE_DIRECTORY "${nuv_tty_work}")
target_compile_definitions(tty_tests PRIVATE
    DEVICE_SIM="$<TARGET_FILE:nuv-device-sim>"
    TTY_WORK="${nuv_tty_work}"
    NUV_UPGRADE="$<TARGET_FILE:nuv-upgrade>"
    NUV_RELEASE_IMAGE="${NUV_RELEASE_IMAGE_FILE}")
add_dependencies(tty_tests nuv-device-sim nuv-upgrade)
gtest_discover_tests(tty_tests
    TEST_PREFIX "tty."
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 120)
