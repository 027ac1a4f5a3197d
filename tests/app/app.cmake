# tests/app/app.cmake: start-up, model table, random generator and address
# parser tests. Included from tests/CMakeLists.txt, so paths are relative
# to tests/.
add_executable(app_tests
    app/test_model_table.cpp
    app/test_random.cpp
    app/test_device_address.cpp
    app/test_startup.cpp
    app/test_templates.cpp
)
target_link_libraries(app_tests PRIVATE nuv_system nuv_platform GTest::gtest_main)
target_include_directories(app_tests PRIVATE ${CMAKE_SOURCE_DIR}/resources)
# The tests compare what start-up mapped with the file the build embedded.
target_compile_definitions(app_tests PRIVATE
    NUV_RESOURCE_DIR="${CMAKE_SOURCE_DIR}/resources"
    NUV_APP_TEST_IMAGE="${CMAKE_CURRENT_SOURCE_DIR}/app/fixtures/target.bin")
# Only the target image: the release configuration, where resource 319
# must never be looked for.
nuv_embed_resources(app_tests SCRIPT ../resources/upgrader.rc
                    INCLUDES ../resources/upgrader_ids.h
                    BLOB NUV_FIRMWARE 112 app/fixtures/target.bin)
gtest_discover_tests(app_tests
    TEST_PREFIX "app."
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 60)
