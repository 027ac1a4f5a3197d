# tests/http/runner.cmake: the device request runner, driven through the
# script front end against a scripted loopback peer. Paths are relative to
# tests/.
add_executable(runner_probe http/runner_probe.cpp)
target_link_libraries(runner_probe PRIVATE nuv_platform_main nuv_system)
nuv_embed_resources(runner_probe SCRIPT ../resources/upgrader.rc INCLUDES ../resources/upgrader_ids.h)

add_library(http_peer STATIC http/http_peer.cpp)
target_include_directories(http_peer PUBLIC ${CMAKE_SOURCE_DIR})

add_executable(runner_tests http/test_runner.cpp)
target_link_libraries(runner_tests PRIVATE script_driver http_peer GTest::gtest_main)
target_compile_definitions(runner_tests PRIVATE RUNNER_PROBE="$<TARGET_FILE:runner_probe>")
add_dependencies(runner_tests runner_probe)
gtest_discover_tests(runner_tests
    TEST_PREFIX "runner."
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 120)
