# svcentry_add_notices(PROGRAM MAP): THIRD-PARTY-NOTICES.txt and
# third-party.json beside PROGRAM, from the link map MAP; the build fails
# when the link took in code that third_party/components.json does not cover.
function(svcentry_add_notices name map)
  set(directory ${CMAKE_CURRENT_BINARY_DIR})
  set(components ${PROJECT_SOURCE_DIR}/third_party/components.json)
  file(GLOB notice_texts ${PROJECT_SOURCE_DIR}/third_party/notices/*.txt)
  add_custom_command(
    OUTPUT ${directory}/THIRD-PARTY-NOTICES.txt ${directory}/third-party.json
    COMMAND ${CMAKE_COMMAND} -DMAP=${map} -DCOMPONENTS=${components}
      -DOBJDUMP=${CMAKE_OBJDUMP} -DPROGRAM=${name}.exe
      -DVERSION=${PROJECT_VERSION}
      -DNOTICES=${directory}/THIRD-PARTY-NOTICES.txt
      -DINVENTORY=${directory}/third-party.json
      -P ${PROJECT_SOURCE_DIR}/cmake/ThirdPartyNotices.cmake
    DEPENDS ${name} ${components} ${notice_texts}
      ${PROJECT_SOURCE_DIR}/cmake/ThirdPartyNotices.cmake
      ${PROJECT_SOURCE_DIR}/cmake/JsonString.cmake
    COMMENT "Naming the third-party code in ${name}.exe"
    VERBATIM)
  add_custom_target(${name}_notices ALL
    DEPENDS ${directory}/THIRD-PARTY-NOTICES.txt)
  set_target_properties(${name} PROPERTIES
    SVCENTRY_NOTICES ${directory}/THIRD-PARTY-NOTICES.txt)
endfunction()

# svcentry_add_program(NAME [SYSTEM_DIRECTORY])
#
# Builds the tool as NAME on this platform's layer. On Windows it carries its
# manifest and version information. On POSIX the system directory is fixed in
# the program, and the build seeds it with a sample services file unless one
# is there already. Both link it statically (on POSIX unless
# SVCENTRY_STATIC_PROGRAM is off). On Windows the build also writes the
# program's third-party notices.
function(svcentry_add_program name)
  add_executable(${name} ${PROJECT_SOURCE_DIR}/svcentry.cpp)
  target_link_libraries(${name} PRIVATE
    svcentry_registration svcentry_warnings svcentry_runtime_free)
  if(WIN32)
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/platform/windows_platform.cpp)
    # Self-contained: no MinGW runtime DLL has to travel with the program.
    # Stripped, and with no time stamp in its header nor a path of this
    # machine inside, so that every build of a commit gives the same bytes.
    # The link map records what the linker took in, which the notices name.
    set(map ${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
    target_link_options(${name} PRIVATE -static -s -Wl,--no-insert-timestamp
      -Wl,-Map=${map})
    set(SVCENTRY_PROGRAM ${name})
    set(SVCENTRY_MANIFEST ${PROJECT_SOURCE_DIR}/windows/svcentry.exe.manifest)
    set(resources ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/windows/svcentry.rc.in ${resources} @ONLY)
    # windres reports no dependencies: a changed manifest must still rebuild.
    set_source_files_properties(${resources} PROPERTIES
      OBJECT_DEPENDS ${SVCENTRY_MANIFEST})
    target_sources(${name} PRIVATE ${resources})
    svcentry_add_notices(${name} ${map})
    return()
  endif()
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
