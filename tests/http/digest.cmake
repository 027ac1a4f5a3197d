# tests/http/digest.cmake: MD5 and digest authentication. Included from
# tests/CMakeLists.txt, so paths are relative to tests/.
add_executable(digest_tests
    http/test_md5.cpp
    http/test_digest.cpp
)
target_link_libraries(digest_tests PRIVATE nuv_system nuv_platform GTest::gtest_main)
nuv_embed_resources(digest_tests SCRIPT ../resources/upgrader.rc INCLUDES ../resources/upgrader_ids.h)
gtest_discover_tests(digest_tests
    TEST_PREFIX "digest."
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 60)
