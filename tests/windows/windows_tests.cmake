# svcentry_windows_tests, the GoogleTest program that runs the program, the
# custom action and the installers in the Wine prefix. Each installer row is
# a test of its own, which needs its example's build; the other cases are
# one test.

# svcentry_windows_path(VARIABLE PATH): PATH on Wine's drive Z:, with
# backslashes (msiexec and cmd take a `/` for a switch), as a C string
# literal's contents.
function(svcentry_windows_path variable path)
  string(REPLACE "/" "\\\\" path "${path}")
  set(${variable} "Z:${path}" PARENT_SCOPE)
endfunction()
svcentry_windows_path(msi ${svcentry_msi_FILE})
# Release 1.0.0's MSI, as scripts/release built it from the commit recorded
# in releases/1.0.0 (the svcentry.exe inside has the SHA-256 ac4bae75...1ef0
# that release published).
svcentry_windows_path(msi_released
  ${CMAKE_CURRENT_SOURCE_DIR}/released/svcentry-1.0.0-x64.msi)
# Release 1.2.1's MSI, rebuilt from its record: the bytes that
# releases/1.2.1/SHA256SUMS records, or the build stops.
set(last_release ${CMAKE_CURRENT_SOURCE_DIR}/released/svcentry-1.2.1-x64.msi)
file(SHA256 ${last_release} last_release_digest)
file(STRINGS ${PROJECT_SOURCE_DIR}/releases/1.2.1/SHA256SUMS last_release_record
  REGEX "  svcentry-1\\.2\\.1-x64\\.msi$")
if(NOT last_release_record MATCHES "^${last_release_digest}  ")
  message(FATAL_ERROR "${last_release} is not the MSI releases/1.2.1 records")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${last_release}
  ${PROJECT_SOURCE_DIR}/releases/1.2.1/SHA256SUMS)
svcentry_windows_path(msi_last_release ${last_release})
svcentry_windows_path(nsis_x86_setup ${example_nsis_x86}/example-setup.exe)
svcentry_windows_path(nsis_amd64_setup ${example_nsis_amd64}/example-setup.exe)
svcentry_windows_path(inno_setup ${example_inno}/example-setup.exe)
svcentry_windows_path(batch ${example_batch}/install.cmd)

add_executable(svcentry_windows_tests
  child_process.cpp
  end_to_end_test.cpp
  installed_products.cpp
  installers_test.cpp
  msi_platform_test.cpp
  resources_test.cpp
  selftest_text.cpp
  services_file.cpp
  test_files.cpp
  windows_tests_main.cpp
  ${PROJECT_SOURCE_DIR}/platform/msi_platform.cpp
  ${PROJECT_SOURCE_DIR}/platform/windows_platform.cpp)
target_link_libraries(svcentry_windows_tests PRIVATE
  svcentry_warnings GTest::gtest msi version)
target_include_directories(svcentry_windows_tests PRIVATE ${PROJECT_SOURCE_DIR})
# Where the build tree has the files they run, on drive Z:, which shows the
# host's root directory under Wine; beside the test program, as in the
# self-test kit, they are found first (test_files.h).
target_compile_definitions(svcentry_windows_tests PRIVATE
  SVCENTRY_PROGRAM="Z:$<TARGET_FILE:svcentry>"
  SVCENTRY_SERVICE_LOOKUP="Z:$<TARGET_FILE:service_lookup>"
  SVCENTRY_EXIT_CODE_PROGRAM="Z:$<TARGET_FILE:exit_code>"
  SVCENTRY_MSI="${msi}"
  SVCENTRY_MSI_RELEASED="${msi_released}"
  SVCENTRY_MSI_LAST_RELEASE="${msi_last_release}"
  SVCENTRY_NSIS_X86_SETUP="${nsis_x86_setup}"
  SVCENTRY_NSIS_AMD64_SETUP="${nsis_amd64_setup}"
  SVCENTRY_INNO_SETUP="${inno_setup}"
  SVCENTRY_MSI_ACTION="Z:$<TARGET_FILE:svcentry-msi>"
  SVCENTRY_BATCH="${batch}"
  SVCENTRY_PRODUCT="${PROJECT_NAME}"
  SVCENTRY_DESCRIPTION="${PROJECT_DESCRIPTION}"
  SVCENTRY_MSI_ACTION_DESCRIPTION="${SVCENTRY_MSI_ACTION_DESCRIPTION}"
  SVCENTRY_VERSION="${PROJECT_VERSION}"
  SVCENTRY_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  SVCENTRY_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  SVCENTRY_VERSION_PATCH=${PROJECT_VERSION_PATCH})
add_dependencies(svcentry_windows_tests svcentry svcentry-msi service_lookup
  exit_code svcentry_msi)

# The installer rows and the examples they run. A row whose installer was
# not built, as its tool is missing, or that needs 32-bit programs where
# Wine's 32-bit side is not installed or the kernel runs none, is skipped
# and says why; a filter that names no case fails, and so does a row whose
# program fails after its case passed (in a suite's tear-down, say).
set(rows Msi Batch NsisX86WithWindow NsisX86Silent NsisAmd64WithWindow
  NsisAmd64Silent InnoSetup)
set(row_example_Batch batch)
set(row_example_NsisX86WithWindow nsis_x86)
set(row_example_NsisX86Silent nsis_x86)
set(row_example_NsisAmd64WithWindow nsis_amd64)
set(row_example_NsisAmd64Silent nsis_amd64)
set(row_example_InnoSetup inno)
set(needs_32_bit --wine32 ${SVCENTRY_WINEPREFIX})
set(row_needs_NsisX86WithWindow ${needs_32_bit})
set(row_needs_NsisX86Silent ${needs_32_bit})
set(row_needs_InnoSetup ${needs_32_bit})
set(row_prefix ServicesFile/Installers.LeaveTheMessageWhereTheirUserLooks)
set(row_cases)
foreach(row IN LISTS rows)
  set(fixtures wine_prefix)
  if(DEFINED row_example_${row})
    list(APPEND fixtures example_${row_example_${row}})
  endif()
  add_test(NAME svcentry_installer_${row}
    COMMAND ${requires} ${row_needs_${row}}
      -- ${svcentry_wine} ${SVCENTRY_WINEPREFIX}
      $<TARGET_FILE:svcentry_windows_tests> --gtest_filter=${row_prefix}/${row})
  set_tests_properties(svcentry_installer_${row} PROPERTIES
    FIXTURES_REQUIRED "${fixtures}" RESOURCE_LOCK svcentry_wine_services
    FAIL_REGULAR_EXPRESSION "\\[  PASSED  \\] 0 tests\\."
    SKIP_RETURN_CODE 77
    SKIP_REGULAR_EXPRESSION "${SVCENTRY_SKIP_EXPRESSION}" TIMEOUT 300)
  list(APPEND row_cases ${row_prefix}/${row})
endforeach()
# It rewrites the prefix's services file, and runs the batch example with a
# program that crashes.
list(JOIN row_cases : row_cases)
add_test(NAME svcentry_windows_tests COMMAND svcentry_windows_tests
  --gtest_filter=-${row_cases})
set_tests_properties(svcentry_windows_tests PROPERTIES
  FIXTURES_REQUIRED "wine_prefix;example_batch"
  RESOURCE_LOCK svcentry_wine_services
  TIMEOUT 300)

# The self-test kit's runner, which runs svcentry_windows_tests beside it on
# a Windows machine that may be thrown away, and writes a report
# (selftest.cpp).
add_executable(svcentry_selftest
  installed_products.cpp
  selftest.cpp
  selftest_text.cpp)
target_link_libraries(svcentry_selftest PRIVATE
  svcentry_warnings msi advapi32 ole32 shell32)
target_include_directories(svcentry_selftest PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(svcentry_selftest PRIVATE
  SVCENTRY_PRODUCT="${PROJECT_NAME}"
  SVCENTRY_VERSION="${PROJECT_VERSION}")

# The self-test kit, made from a fresh release and run as a user runs it,
# in a fresh prefix of its own: every row passes and the prefix is as it
# was; a kit whose svcentry.exe says nothing fails, row by row.
add_test(NAME svcentry_selftest_kit
  COMMAND ${requires} ${needs_makensis}
    --file ${iscc} "npm ci --prefix tests/windows/innosetup"
    --wine32 ${SVCENTRY_WINEPREFIX}
    --command unzip "Debian package unzip"
    -- ${CMAKE_CURRENT_SOURCE_DIR}/selftest_kit.sh ${PROJECT_SOURCE_DIR}
    ${CMAKE_CURRENT_BINARY_DIR}/selftest-kit ${CMAKE_CURRENT_BINARY_DIR})
set_tests_properties(svcentry_selftest_kit PROPERTIES
  FIXTURES_REQUIRED wine_prefix SKIP_RETURN_CODE 77 TIMEOUT 900)
