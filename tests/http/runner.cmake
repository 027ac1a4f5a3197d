# tests/http/runner.cmake: the device request runner, driven through the
# script front end against a scripted loopback peer and against the
# simulated device. Paths are relative to tests/.
add_executable(runner_probe http/runner_probe.cpp)
target_link_libraries(runner_probe PRIVATE nuv_platform_main nuv_system)
nuv_embed_resources(runner_probe SCRIPT ../resources/upgrader.rc INCLUDES ../resources/upgrader_ids.h)

add_executable(runner_tests http/test_runner.cpp)
target_link_libraries(runner_tests PRIVATE script_driver http_peer GTest::gtest_main)
target_compile_definitions(runner_tests PRIVATE RUNNER_PROBE="$<TARGET_FILE:runner_probe>")
add_dependencies(runner_tests runner_probe)
gtest_discover_tests(runner_tests
    TEST_PREFIX "runner."
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 120)

# Every kind of digest challenge the simulated device sends, answered by
# the runner; the simulator runs as a child process, as in its own tests.
add_executable(runner_sim_tests http/test_runner_sim.cpp tools/sim_process.cpp)
target_link_libraries(runner_sim_tests PRIVATE script_driver GTest::gtest_main)
target_compile_definitions(runner_sim_tests PRIVATE
    RUNNER_PROBE="$<TARGET_FILE:runner_probe>"
    DEVICE_SIM="$<TARGET_FILE:nuv-device-sim>"
    RUNNER_SIM_WORK="${CMAKE_CURRENT_BINARY_DIR}/runner_sim_work")
add_dependencies(runner_sim_tests runner_probe nuv-device-sim)
gtest_discover_tests(runner_sim_tests
    TEST_PREFIX "runner_sim."
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 120)
