# svcentry_add_msi(TARGET PROGRAM ACTION NOTICES)
#
# Builds svcentry-VERSION-x64.msi in the current binary directory from
# windows/svcentry.wxs, packing PROGRAM and ACTION (the custom action's
# DLL), both targets, the project's LICENSE and the NOTICES target's notices,
# as cmake/BuildMsi.cmake does for the release, and sets TARGET_FILE to its
# path. Its time is SOURCE_DATE_EPOCH as it was when the
# build was configured, else the last commit's.
function(svcentry_add_msi target program action notices)
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  if(epoch STREQUAL "")
    execute_process(COMMAND git log -1 --format=%ct
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(epoch STREQUAL "")
    # 1980-01-01, the earliest time a cabinet can hold.
    set(epoch 315532800)
  endif()
  set(msi ${CMAKE_CURRENT_BINARY_DIR}/svcentry-${PROJECT_VERSION}-x64.msi)
  set(source ${PROJECT_SOURCE_DIR}/windows/svcentry.wxs)
  set(files $<TARGET_FILE:${program}> $<TARGET_FILE:${action}>
    ${PROJECT_SOURCE_DIR}/LICENSE ${${notices}_NOTICES})
  add_custom_command(OUTPUT ${msi}
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${source} -DVERSION=${PROJECT_VERSION}
      "-DFILES=${files}" -DEPOCH=${epoch} -DOUTPUT=${msi}
      -P ${PROJECT_SOURCE_DIR}/cmake/BuildMsi.cmake
    DEPENDS ${program} ${action} ${files} ${source}
      ${PROJECT_SOURCE_DIR}/cmake/BuildMsi.cmake
    COMMENT "Building svcentry-${PROJECT_VERSION}-x64.msi"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${msi})
  add_dependencies(${target} ${notices})
  set(${target}_FILE ${msi} PARENT_SCOPE)
endfunction()
