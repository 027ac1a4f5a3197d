# tests/platform/kernel.cmake: the kernel services, Winsock and timer tests.
# Included from tests/CMakeLists.txt, so paths are relative to tests/.

# A fresh process for what must be watched from outside: ExitProcess from a
# second thread, the clock hooks (read at first use), Winsock before
# WSAStartup.
add_executable(exit_probe platform/exit_probe.cpp)
target_link_libraries(exit_probe PRIVATE nuv_platform_kernel)
nuv_embed_resources(exit_probe SCRIPT platform/fixtures/kernel.rc)

add_executable(kernel_tests
    platform/test_kernel.cpp
    platform/test_sockets.cpp
    platform/kernel_test_support.cpp
)
target_link_libraries(kernel_tests PRIVATE nuv_platform_kernel GTest::gtest_main)
nuv_embed_resources(kernel_tests SCRIPT platform/fixtures/kernel.rc
                    BLOB TEST_BLOB 7 platform/fixtures/blob.bin)
target_compile_definitions(kernel_tests PRIVATE
    NUV_EXIT_PROBE="$<TARGET_FILE:exit_probe>"
    NUV_TEST_BLOB="${CMAKE_CURRENT_SOURCE_DIR}/platform/fixtures/blob.bin")
add_dependencies(kernel_tests exit_probe)
gtest_discover_tests(kernel_tests
    TEST_PREFIX "kernel."
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120)
