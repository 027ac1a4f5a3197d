# tests/app/startup_e2e.cmake: the programs' start-up seen from outside,
# through the script front end, including programs built on purpose with
# images the build would refuse. Paths are relative to tests/.

# Images the configure check keeps out of the real programs: too short, and
# no NUL anywhere (so none in the version field).
file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/app_fixtures/short.bin" "0123456789")
string(REPEAT "B" 300 no_nul)
file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/app_fixtures/no_nul.bin" "${no_nul}")

# startup_probe(<name> <target_mode> [BLOB ...]): the real system and
# resource script with the given images.
function(startup_probe name mode)
    set(source "${CMAKE_CURRENT_BINARY_DIR}/app_fixtures/${name}_mode.cpp")
    file(CONFIGURE OUTPUT "${source}" @ONLY CONTENT
"#include \"app/upgrade_context.h\"
extern const int32_t build_initial_target_mode = ${mode};
")
    add_executable(${name} "${source}")
    target_link_libraries(${name} PRIVATE nuv_platform_main nuv_system)
    nuv_embed_resources(${name} SCRIPT ../resources/upgrader.rc
                        INCLUDES ../resources/upgrader_ids.h ${ARGN})
endfunction()

set(good app/fixtures/target.bin)
set(short "${CMAKE_CURRENT_BINARY_DIR}/app_fixtures/short.bin")
set(no_nul "${CMAKE_CURRENT_BINARY_DIR}/app_fixtures/no_nul.bin")
startup_probe(startup_without_target 1)
startup_probe(startup_short_target 1 BLOB NUV_FIRMWARE 112 ${short})
startup_probe(startup_damaged_target 1 BLOB NUV_FIRMWARE 112 ${no_nul})
startup_probe(startup_without_transition 0 BLOB NUV_FIRMWARE 112 ${good})
startup_probe(startup_damaged_transition 0 BLOB NUV_FIRMWARE 112 ${good} BLOB NUV_FIRMWARE 319 ${no_nul})

add_executable(startup_e2e_tests app/test_startup_e2e.cpp)
target_link_libraries(startup_e2e_tests PRIVATE script_driver GTest::gtest_main)
target_compile_definitions(startup_e2e_tests PRIVATE
    NUV_PROGRAMS="${CMAKE_BINARY_DIR}" NUV_PROBES="${CMAKE_CURRENT_BINARY_DIR}")
add_dependencies(startup_e2e_tests nuv-upgrade nuv-upgrade-adapter nuv-upgrade-transition
    startup_without_target startup_short_target startup_damaged_target
    startup_without_transition startup_damaged_transition)
gtest_discover_tests(startup_e2e_tests
    TEST_PREFIX "startup."
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 60)
