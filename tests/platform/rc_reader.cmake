# The resource-script reader's tests: the fixture scripts and malformed ones.
add_executable(rc_reader_tests platform/test_rc_reader.cpp)
target_link_libraries(rc_reader_tests PRIVATE nuv_rc_reader GTest::gtest_main)
target_compile_definitions(rc_reader_tests PRIVATE
    RC_FIXTURES="${CMAKE_CURRENT_SOURCE_DIR}/platform/fixtures")
# Named rc_reader.* so that `ctest -R rc_reader` picks them out.
gtest_discover_tests(rc_reader_tests
    TEST_PREFIX "rc_reader."
    PROPERTIES TIMEOUT 120)
