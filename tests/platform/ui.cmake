# The windowing layer and the script front end, with its driver.
add_library(script_driver STATIC driver/script_driver.cpp)
target_include_directories(script_driver PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(script_driver PUBLIC GTest::gtest)

set(UI_TEST_FIXTURES ${CMAKE_CURRENT_SOURCE_DIR}/platform/fixtures)

add_executable(ui_probe platform/ui_probe.cpp)
target_include_directories(ui_probe PRIVATE ${UI_TEST_FIXTURES})
target_link_libraries(ui_probe PRIVATE nuv_platform_main)
nuv_embed_resources(ui_probe SCRIPT platform/fixtures/ui_test.rc
                    INCLUDES platform/fixtures/ui_test_ids.h)

add_executable(ui_tests platform/test_windows.cpp platform/test_script.cpp
                        platform/test_context.cpp)
target_include_directories(ui_tests PRIVATE ${UI_TEST_FIXTURES})
target_link_libraries(ui_tests PRIVATE nuv_system script_driver GTest::gtest_main)
target_compile_definitions(ui_tests PRIVATE UI_PROBE="$<TARGET_FILE:ui_probe>")
nuv_embed_resources(ui_tests SCRIPT platform/fixtures/ui_test.rc
                    INCLUDES platform/fixtures/ui_test_ids.h)
add_dependencies(ui_tests ui_probe)
gtest_discover_tests(ui_tests DISCOVERY_TIMEOUT 30)
