# Test programs built for Windows run under Wine, in a prefix of their own
# under the build tree, never in ~/.wine. A fixture boots the prefix once and
# keeps its server warm, so that each test program starts in well under a
# second; a last test ends the server.
#
# Each GoogleTest program is one test: listing its cases would run Wine when
# ctest starts, before the fixture has booted the prefix.
set(SVCENTRY_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(svcentry_wine "${PROJECT_SOURCE_DIR}/scripts/wine")
set(CMAKE_CROSSCOMPILING_EMULATOR "${svcentry_wine}" "${SVCENTRY_WINEPREFIX}")

# Self-contained like the tool: the prefix holds no MinGW runtime DLLs.
add_link_options(-static)

add_test(NAME wine_prefix_start
  COMMAND "${svcentry_wine}" "${SVCENTRY_WINEPREFIX}" --start)
add_test(NAME wine_prefix_stop
  COMMAND "${svcentry_wine}" "${SVCENTRY_WINEPREFIX}" --stop)
set_tests_properties(wine_prefix_start PROPERTIES
  FIXTURES_SETUP wine_prefix TIMEOUT 300)
set_tests_properties(wine_prefix_stop PROPERTIES FIXTURES_CLEANUP wine_prefix)

# svcentry_add_wine_test(TARGET [PROPERTY VALUE...]): runs the GoogleTest
# program TARGET in the prefix, with the given test properties.
function(svcentry_add_wine_test target)
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES
    FIXTURES_REQUIRED wine_prefix TIMEOUT 300 ${ARGN})
endfunction()
