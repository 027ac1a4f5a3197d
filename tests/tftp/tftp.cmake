# tests/tftp/tftp.cmake: the TFTP listener, session and completion, driven
# through the script front end with the test playing the device. Paths are
# relative to tests/.
add_executable(tftp_probe tftp/tftp_probe.cpp)
target_link_libraries(tftp_probe PRIVATE nuv_platform_main nuv_system)
nuv_embed_resources(tftp_probe SCRIPT ../resources/upgrader.rc INCLUDES ../resources/upgrader_ids.h)

add_library(udp_peer STATIC tftp/udp_peer.cpp)
target_include_directories(udp_peer PUBLIC ${CMAKE_SOURCE_DIR})

add_executable(tftp_tests tftp/test_tftp.cpp)
target_link_libraries(tftp_tests PRIVATE script_driver http_peer udp_peer GTest::gtest_main)
target_compile_definitions(tftp_tests PRIVATE TFTP_PROBE="$<TARGET_FILE:tftp_probe>")
add_dependencies(tftp_tests tftp_probe)
gtest_discover_tests(tftp_tests
    TEST_PREFIX "tftp."
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 120)
