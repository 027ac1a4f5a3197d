# tests/http/exchange.cmake: the HTTP exchange against scripted loopback
# peers, and its fatal failures through a probe program under the script
# front end. Paths are relative to tests/.
add_executable(exchange_probe http/exchange_probe.cpp)
target_link_libraries(exchange_probe PRIVATE nuv_platform_main nuv_system)
nuv_embed_resources(exchange_probe SCRIPT ../resources/upgrader.rc INCLUDES ../resources/upgrader_ids.h)

# The scripted loopback peer and the port holder, for the exchange's and the
# runner's tests.
add_library(http_peer STATIC http/http_peer.cpp)
target_include_directories(http_peer PUBLIC ${CMAKE_SOURCE_DIR})

add_executable(exchange_tests
    http/test_exchange.cpp
    http/test_exchange_process.cpp
)
target_link_libraries(exchange_tests PRIVATE nuv_system nuv_platform http_peer script_driver
                      GTest::gtest_main)
target_compile_definitions(exchange_tests PRIVATE EXCHANGE_PROBE="$<TARGET_FILE:exchange_probe>")
nuv_embed_resources(exchange_tests SCRIPT ../resources/upgrader.rc INCLUDES ../resources/upgrader_ids.h)
add_dependencies(exchange_tests exchange_probe)
gtest_discover_tests(exchange_tests
    TEST_PREFIX "exchange."
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 60)
