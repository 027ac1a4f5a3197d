# tests/app/wizard.cmake: the wizard of the real programs, end to end,
# against the simulated device on port 80 of loopback addresses. Paths are
# relative to tests/.
set(wizard_work "${CMAKE_CURRENT_BINARY_DIR}/wizard_work")
file(MAKE_DIRECTORY "${wizard_work}")

add_executable(wizard_tests app/test_wizard.cpp tools/sim_process.cpp)
target_include_directories(wizard_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(wizard_tests PRIVATE script_driver GTest::gtest_main)
target_compile_definitions(wizard_tests PRIVATE
    NUV_PROGRAMS="${CMAKE_BINARY_DIR}"
    DEVICE_SIM="$<TARGET_FILE:nuv-device-sim>"
    WIZARD_WORK="${wizard_work}")
add_dependencies(wizard_tests nuv-upgrade nuv-upgrade-adapter nuv-upgrade-transition nuv-device-sim)
gtest_discover_tests(wizard_tests
    TEST_PREFIX "wizard."
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 120)
