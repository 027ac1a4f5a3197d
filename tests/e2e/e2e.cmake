# tests/e2e/e2e.cmake: whole upgrades of the simulated device by the native
# programs under the script front end. Paths are relative to tests/.
add_executable(upgrade_e2e_tests
    e2e/test_upgrade.cpp
    tools/sim_process.cpp
)
target_include_directories(upgrade_e2e_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(upgrade_e2e_tests PRIVATE script_driver GTest::gtest_main)
set(nuv_e2e_work "${CMAKE_CURRENT_BINARY_DIR}/e2e_work")
file(MAKE_DIRECTORY "${nuv_e2e_work}")
target_compile_definitions(upgrade_e2e_tests PRIVATE
    DEVICE_SIM="$<TARGET_FILE:nuv-device-sim>"
    E2E_WORK="${nuv_e2e_work}"
    NUV_UPGRADE="$<TARGET_FILE:nuv-upgrade>"
    NUV_UPGRADE_ADAPTER="$<TARGET_FILE:nuv-upgrade-adapter>"
    NUV_UPGRADE_TRANSITION="$<TARGET_FILE:nuv-upgrade-transition>"
    NUV_RELEASE_IMAGE="${NUV_RELEASE_IMAGE_FILE}"
    NUV_ADAPTER_IMAGE="${NUV_ADAPTER_IMAGE_FILE}"
    NUV_ADAPTER_VERSION="${NUV_ADAPTER_IMAGE_VERSION}"
    NUV_TRANSITION_IMAGE="${NUV_TRANSITION_IMAGE_FILE}"
    NUV_TRANSITION_VERSION="${NUV_TRANSITION_IMAGE_VERSION}"
    NUV_TRANSITION_TARGET_IMAGE="${NUV_TRANSITION_TARGET_IMAGE_FILE}"
    NUV_TRANSITION_TARGET_VERSION="${NUV_TRANSITION_TARGET_IMAGE_VERSION}")
add_dependencies(upgrade_e2e_tests nuv-device-sim nuv-upgrade nuv-upgrade-adapter
                 nuv-upgrade-transition)
gtest_discover_tests(upgrade_e2e_tests
    TEST_PREFIX "e2e."
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 120)

# Whole runs against a device whose web server answers in hostile ways.
add_executable(hostile_e2e_tests
    e2e/test_hostile.cpp
    tools/sim_process.cpp
)
target_include_directories(hostile_e2e_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(hostile_e2e_tests PRIVATE script_driver GTest::gtest_main)
target_compile_definitions(hostile_e2e_tests PRIVATE
    DEVICE_SIM="$<TARGET_FILE:nuv-device-sim>"
    E2E_WORK="${nuv_e2e_work}"
    NUV_UPGRADE="$<TARGET_FILE:nuv-upgrade>"
    NUV_UPGRADE_ADAPTER="$<TARGET_FILE:nuv-upgrade-adapter>"
    NUV_RELEASE_IMAGE="${NUV_RELEASE_IMAGE_FILE}"
    NUV_ADAPTER_IMAGE="${NUV_ADAPTER_IMAGE_FILE}")
add_dependencies(hostile_e2e_tests nuv-device-sim nuv-upgrade nuv-upgrade-adapter)
gtest_discover_tests(hostile_e2e_tests
    TEST_PREFIX "e2e.hostile."
    DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 120)
