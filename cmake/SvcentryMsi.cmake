# svcentry_add_msi(TARGET VERSION [DIRECTORY])
#
# Builds svcentry-VERSION-x64.msi in DIRECTORY (the build tree's top unless
# given) from windows/svcentry.wxs with wixl (Debian package wixl), and sets
# TARGET_FILE to its path. The product code is derived from the package's
# upgrade code and the version: every build of one version is the same
# product, and each new version a new one, which the package's major upgrade
# puts in place of the old.
find_program(SVCENTRY_WIXL wixl REQUIRED)

function(svcentry_add_msi target version)
  set(directory ${CMAKE_BINARY_DIR})
  if(ARGC GREATER 2)
    set(directory ${ARGV2})
  endif()
  set(msi ${directory}/svcentry-${version}-x64.msi)
  set(source ${PROJECT_SOURCE_DIR}/windows/svcentry.wxs)
  file(STRINGS ${source} upgrade_code REGEX "UpgradeCode=\"[-0-9A-F]+\"")
  string(REGEX MATCH "[-0-9A-F]+\"" upgrade_code "${upgrade_code}")
  string(REPLACE "\"" "" upgrade_code "${upgrade_code}")
  string(UUID product_code NAMESPACE ${upgrade_code}
         NAME "svcentry ${version}" TYPE SHA1 UPPER)
  add_custom_command(OUTPUT ${msi}
    COMMAND ${SVCENTRY_WIXL} -a x64 -D Version=${version}
      -D ProductCode={${product_code}} -o ${msi} ${source}
    # The package takes svcentry.exe from the working directory.
    WORKING_DIRECTORY $<TARGET_FILE_DIR:svcentry>
    DEPENDS svcentry ${source}
    COMMENT "Building svcentry-${version}-x64.msi"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${msi})
  set(${target}_FILE ${msi} PARENT_SCOPE)
endfunction()
