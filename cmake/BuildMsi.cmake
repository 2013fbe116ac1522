# cmake -DSOURCE=svcentry.wxs -DVERSION=... -DFILES="a;b" -DEPOCH=...
#       -DOUTPUT=svcentry-VERSION-x64.msi -P BuildMsi.cmake
#
# Builds the MSI from SOURCE with wixl, packing FILES, so that the same inputs
# give the same bytes in any directory at any time: wixl reads the time of
# each file for the cabinet and the clock for the summary, so it packs copies
# dated EPOCH and runs under a clock frozen there (faketime: an absolute time,
# as one given with `@` keeps ticking). Its random package code is then
# replaced (msibuild) by one derived from all that makes the package (the
# version, the source, each file packed, the time and wixl's version), so
# two different packages never share one. The product code follows the
# version.
cmake_minimum_required(VERSION 3.25)
find_program(WIXL wixl REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)
find_program(MSIINFO msiinfo REQUIRED)
find_program(FAKETIME faketime REQUIRED)

get_filename_component(SOURCE "${SOURCE}" ABSOLUTE)
file(STRINGS "${SOURCE}" upgrade_code REGEX "UpgradeCode=\"[-0-9A-F]+\"")
string(REGEX MATCH "[-0-9A-F]+\"" upgrade_code "${upgrade_code}")
string(REPLACE "\"" "" upgrade_code "${upgrade_code}")
string(UUID product_code NAMESPACE ${upgrade_code}
       NAME "svcentry ${VERSION}" TYPE SHA1 UPPER)

set(ENV{SOURCE_DATE_EPOCH} "${EPOCH}")
string(TIMESTAMP frozen "%Y-%m-%d %H:%M:%S" UTC)
# UTC0 is a rule, not a zone: no time zone data goes into the package.
set(clock ${CMAKE_COMMAND} -E env TZ=UTC0 ${FAKETIME} -f "${frozen}")

# run(COMMAND...): runs the command in the staging directory, or fails.
function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${staging}"
    OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command} failed:\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

set(staging "${OUTPUT}.files")
file(REMOVE_RECURSE "${staging}")
file(MAKE_DIRECTORY "${staging}")
execute_process(COMMAND ${WIXL} --version OUTPUT_VARIABLE wixl_version
  OUTPUT_STRIP_TRAILING_WHITESPACE)
file(SHA256 "${SOURCE}" source_hash)
set(package_identity "${source_hash} ${EPOCH} wixl ${wixl_version}")
foreach(path IN LISTS FILES)
  get_filename_component(path "${path}" ABSOLUTE)
  get_filename_component(name "${path}" NAME)
  file(COPY "${path}" DESTINATION "${staging}"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  run(touch -d "@${EPOCH}" "${name}")
  file(SHA256 "${path}" hash)
  string(APPEND package_identity " ${name} ${hash}")
endforeach()
string(UUID package_code NAMESPACE ${upgrade_code}
       NAME "svcentry package ${VERSION} ${package_identity}" TYPE SHA1 UPPER)

run(${clock} ${WIXL} -a x64 -D Version=${VERSION}
  -D ProductCode={${product_code}} -o package.msi "${SOURCE}")
# msibuild sets the summary's subject, author, template and package code
# together: the first three stay as wixl wrote them.
run(${MSIINFO} suminfo package.msi)
foreach(field Subject Author Template)
  if(NOT output MATCHES "\n${field}: ([^\n]*)")
    message(FATAL_ERROR "wixl wrote no ${field} into the summary")
  endif()
  # Escaped, so that the template's `;` does not split the argument.
  string(REPLACE ";" "\\;" ${field} "${CMAKE_MATCH_1}")
endforeach()
run(${clock} ${MSIBUILD} package.msi
  -s "${Subject}" "${Author}" "${Template}" {${package_code}})
file(RENAME "${staging}/package.msi" "${OUTPUT}")
file(REMOVE_RECURSE "${staging}")
