# svcentry_windows_binary(TARGET FILE_NAME FILE_TYPE DESCRIPTION [MANIFEST])
#
# What every Windows binary of the release shares, TARGET built as FILE_NAME
# on the Windows platform layer. It is linked statically, so no MinGW
# runtime DLL has to travel with it; stripped, with no time stamp in its
# header nor a path of this machine inside, so that every build of a commit
# gives the same bytes; and it carries version information of FILE_TYPE
# (VFT_APP, VFT_DLL) with DESCRIPTION, and the MANIFEST a program may have.
# Its link map, the target's SVCENTRY_MAP, records what the linker took in,
# which the notices name.
function(svcentry_windows_binary name file_name file_type description)
  target_sources(${name} PRIVATE
    ${PROJECT_SOURCE_DIR}/platform/windows_platform.cpp)
  target_link_libraries(${name} PRIVATE
    svcentry_registration svcentry_warnings svcentry_runtime_free)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
  target_link_options(${name} PRIVATE -static -s -Wl,--no-insert-timestamp
    -Wl,-Map=${map})
  set_target_properties(${name} PROPERTIES SVCENTRY_MAP ${map})
  set(SVCENTRY_FILE_NAME ${file_name})
  set(SVCENTRY_INTERNAL_NAME ${name})
  set(SVCENTRY_FILE_TYPE ${file_type})
  set(SVCENTRY_DESCRIPTION "${description}")
  set(SVCENTRY_MANIFEST_RESOURCE "")
  set(resources ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc)
  if(ARGC GREATER 4)
    set(SVCENTRY_MANIFEST_RESOURCE
      "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"${ARGV4}\"")
    # windres reports no dependencies: a changed manifest must still
    # rebuild.
    set_source_files_properties(${resources} PROPERTIES
      OBJECT_DEPENDS ${ARGV4})
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/windows/svcentry.rc.in ${resources}
    @ONLY)
  target_sources(${name} PRIVATE ${resources})
endfunction()

# svcentry_add_program(NAME [SYSTEM_DIRECTORY])
#
# Builds the tool as NAME on this platform's layer. On Windows it carries its
# manifest and version information. On POSIX the system directory is fixed in
# the program, and the build seeds it with a sample services file unless one
# is there already. Both link it statically (on POSIX unless
# SVCENTRY_STATIC_PROGRAM is off).
function(svcentry_add_program name)
  add_executable(${name} ${PROJECT_SOURCE_DIR}/svcentry.cpp)
  if(WIN32)
    svcentry_windows_binary(${name} ${name}.exe VFT_APP
      "${PROJECT_DESCRIPTION}"
      ${PROJECT_SOURCE_DIR}/windows/svcentry.exe.manifest)
    return()
  endif()
  target_link_libraries(${name} PRIVATE
    svcentry_registration svcentry_warnings svcentry_runtime_free)
  set(system_directory "${ARGV1}")
  target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/platform/posix_platform.cpp)
  if(SVCENTRY_STATIC_PROGRAM)
    # Without shared libraries to load and relocate, a run on a file of
    # real size takes half the time and half the memory.
    target_link_options(${name} PRIVATE -static)
  endif()
  target_compile_definitions(${name} PRIVATE
    SVCENTRY_SYSTEM_DIRECTORY="${system_directory}")
  add_custom_target(${name}_sandbox ALL
    COMMAND ${CMAKE_COMMAND}
      -DSAMPLE=${PROJECT_SOURCE_DIR}/sandbox/services
      -DSERVICES=${system_directory}/Drivers/etc/services
      -P ${PROJECT_SOURCE_DIR}/cmake/SeedSandbox.cmake
    COMMENT "Seeding the sandbox system directory of ${name}"
    VERBATIM)
  add_dependencies(${name} ${name}_sandbox)
endfunction()

# svcentry_add_msi_action(NAME): the MSI custom action, NAME.dll, which runs
# the same registration as the program and hands its message to Windows
# Installer. It exports one entry, RegisterServiceEntry. Sets
# SVCENTRY_MSI_ACTION_DESCRIPTION to the description its version
# information gives.
function(svcentry_add_msi_action name)
  add_library(${name} MODULE ${PROJECT_SOURCE_DIR}/svcentry_msi.cpp
    ${PROJECT_SOURCE_DIR}/platform/msi_platform.cpp)
  set_target_properties(${name} PROPERTIES PREFIX "")
  target_link_libraries(${name} PRIVATE msi)
  set(description "${PROJECT_DESCRIPTION}, as an MSI custom action")
  svcentry_windows_binary(${name} ${name}.dll VFT_DLL "${description}")
  set(SVCENTRY_MSI_ACTION_DESCRIPTION "${description}" PARENT_SCOPE)
endfunction()

# svcentry_add_notices(TARGET BINARY...): THIRD-PARTY-NOTICES.txt and
# third-party.json in the current binary directory, from the link maps of
# the BINARY targets; the build fails when a link took in code that
# third_party/components.json does not cover. Sets TARGET_NOTICES to the
# notices' path.
function(svcentry_add_notices target)
  set(directory ${CMAKE_CURRENT_BINARY_DIR})
  set(components ${PROJECT_SOURCE_DIR}/third_party/components.json)
  file(GLOB notice_texts ${PROJECT_SOURCE_DIR}/third_party/notices/*.txt)
  set(maps)
  set(programs)
  foreach(binary IN LISTS ARGN)
    get_target_property(map ${binary} SVCENTRY_MAP)
    list(APPEND maps ${map})
    list(APPEND programs $<TARGET_FILE_NAME:${binary}>)
  endforeach()
  add_custom_command(
    OUTPUT ${directory}/THIRD-PARTY-NOTICES.txt ${directory}/third-party.json
    COMMAND ${CMAKE_COMMAND} "-DMAPS=${maps}" "-DPROGRAMS=${programs}"
      -DCOMPONENTS=${components} -DOBJDUMP=${CMAKE_OBJDUMP}
      -DVERSION=${PROJECT_VERSION}
      -DNOTICES=${directory}/THIRD-PARTY-NOTICES.txt
      -DINVENTORY=${directory}/third-party.json
      -P ${PROJECT_SOURCE_DIR}/cmake/ThirdPartyNotices.cmake
    DEPENDS ${ARGN} ${components} ${notice_texts}
      ${PROJECT_SOURCE_DIR}/cmake/ThirdPartyNotices.cmake
      ${PROJECT_SOURCE_DIR}/cmake/JsonString.cmake
    COMMENT "Naming the third-party code in the Windows binaries"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${directory}/THIRD-PARTY-NOTICES.txt)
  set(${target}_NOTICES ${directory}/THIRD-PARTY-NOTICES.txt PARENT_SCOPE)
endfunction()
