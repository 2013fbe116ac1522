# The GoogleTest suites of every build, and the native end-to-end runs.

add_executable(svcentry_tests
  fault_sweep_test.cpp
  registration_run_test.cpp
  text_stream_test.cpp
  # The self-test runner's reading of GoogleTest's results, plain C++.
  windows/selftest_text.cpp
  windows/selftest_text_test.cpp)
target_link_libraries(svcentry_tests PRIVATE
  svcentry_fake_platform svcentry_warnings GTest::gtest_main)

# The platform layer the program runs on, against real files.
add_executable(svcentry_platform_tests platform_test.cpp)
target_include_directories(svcentry_platform_tests PRIVATE
  ${PROJECT_SOURCE_DIR})
target_link_libraries(svcentry_platform_tests PRIVATE
  svcentry_warnings GTest::gtest_main)

if(WIN32)
  target_sources(svcentry_platform_tests PRIVATE
    ${PROJECT_SOURCE_DIR}/platform/windows_platform.cpp)
  svcentry_add_wine_test(svcentry_tests)
  svcentry_add_wine_test(svcentry_platform_tests)
else()
  gtest_discover_tests(svcentry_tests DISCOVERY_MODE PRE_TEST)
  # Only the directory's length matters to the table; nothing is put there.
  target_sources(svcentry_platform_tests PRIVATE
    ${PROJECT_SOURCE_DIR}/platform/posix_platform.cpp)
  target_compile_definitions(svcentry_platform_tests PRIVATE
    SVCENTRY_SYSTEM_DIRECTORY="${CMAKE_CURRENT_BINARY_DIR}/platform/system32")
  gtest_discover_tests(svcentry_platform_tests DISCOVERY_MODE PRE_TEST)
  # The program under test gets a sandbox of its own, apart from the one
  # the tool's own runs use.
  set(e2e_system_directory "${CMAKE_CURRENT_BINARY_DIR}/e2e/system32")
  svcentry_add_program(svcentry_e2e_subject "${e2e_system_directory}")
  add_executable(svcentry_end_to_end_tests
    concurrent_writers_test.cpp
    e2e_support.cpp
    end_to_end_test.cpp
    real_faults_test.cpp)
  target_include_directories(svcentry_end_to_end_tests PRIVATE
    ${PROJECT_SOURCE_DIR})
  target_link_libraries(svcentry_end_to_end_tests PRIVATE
    svcentry_warnings GTest::gtest_main)
  target_compile_definitions(svcentry_end_to_end_tests PRIVATE
    SVCENTRY_E2E_PROGRAM="$<TARGET_FILE:svcentry_e2e_subject>"
    SVCENTRY_E2E_SYSTEM_DIRECTORY="${e2e_system_directory}")
  add_dependencies(svcentry_end_to_end_tests svcentry_e2e_subject)
  # Cases are named by their parameters; the raw bytes add nothing.
  gtest_discover_tests(svcentry_end_to_end_tests DISCOVERY_MODE PRE_TEST
    NO_PRETTY_VALUES
    PROPERTIES RESOURCE_LOCK svcentry_e2e_sandbox)
  svcentry_add_static_check(svcentry_e2e_subject)
endif()
