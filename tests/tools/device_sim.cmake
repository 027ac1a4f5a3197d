# tests/tools/device_sim.cmake: the simulated device, run as a child process
# and spoken to over loopback sockets. Included from tests/CMakeLists.txt,
# so paths are relative to tests/.
add_executable(device_sim_tests
    tools/test_device_sim.cpp
    tools/sim_process.cpp
    ${CMAKE_SOURCE_DIR}/http/md5.cpp
)
target_include_directories(device_sim_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(device_sim_tests PRIVATE GTest::gtest_main)
target_compile_definitions(device_sim_tests PRIVATE
    DEVICE_SIM="$<TARGET_FILE:nuv-device-sim>"
    DEVICE_SIM_WORK="${CMAKE_CURRENT_BINARY_DIR}/device_sim_work")
add_dependencies(device_sim_tests nuv-device-sim)
gtest_discover_tests(device_sim_tests
    TEST_PREFIX "device_sim."
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 60)

# The TFTP side, against a loopback TFTP server of the test's own.
add_executable(device_sim_tftp_tests
    tools/test_device_sim_tftp.cpp
    tools/sim_process.cpp
    ${CMAKE_SOURCE_DIR}/http/md5.cpp
)
target_include_directories(device_sim_tftp_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(device_sim_tftp_tests PRIVATE GTest::gtest_main)
target_compile_definitions(device_sim_tftp_tests PRIVATE
    DEVICE_SIM="$<TARGET_FILE:nuv-device-sim>"
    DEVICE_SIM_WORK="${CMAKE_CURRENT_BINARY_DIR}/device_sim_tftp_work")
add_dependencies(device_sim_tftp_tests nuv-device-sim)
gtest_discover_tests(device_sim_tftp_tests
    TEST_PREFIX "device_sim_tftp."
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 60)
