# svcentry_add_msi(TARGET VERSION [DIRECTORY])
#
# Builds svcentry-VERSION-x64.msi in DIRECTORY (the build tree's top unless
# given) from windows/svcentry.wxs with wixl (Debian package wixl). The
# product code is derived from the version: every build of one version is
# the same product, and each new version a new one, which the package's
# major upgrade puts in place of the old.
find_program(SVCENTRY_WIXL wixl REQUIRED)

function(svcentry_add_msi target version)
  set(directory ${CMAKE_BINARY_DIR})
  if(ARGC GREATER 2)
    set(directory ${ARGV2})
  endif()
  set(msi ${directory}/svcentry-${version}-x64.msi)
  string(UUID product_code NAMESPACE 5BE8E58D-2CA7-40EB-87A2-8D1EC90C3728
         NAME "svcentry ${version}" TYPE SHA1 UPPER)
  set(source ${PROJECT_SOURCE_DIR}/windows/svcentry.wxs)
  add_custom_command(OUTPUT ${msi}
    COMMAND ${SVCENTRY_WIXL} -a x64 -D Version=${version}
      -D ProductCode={${product_code}} -o ${msi} ${source}
    # The package takes svcentry.exe from the working directory.
    WORKING_DIRECTORY $<TARGET_FILE_DIR:svcentry>
    DEPENDS svcentry ${source}
    COMMENT "Building svcentry-${version}-x64.msi"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${msi})
endfunction()
