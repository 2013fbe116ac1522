# cmake -DMSIINFO=... -DMSI=... -P CheckMsi.cmake
#
# Fails unless the MSI runs svcentry.exe the way Windows needs it and Wine
# cannot show: as a deferred custom action without impersonation whose
# failure fails the install (type 3090 = a program the package installs, 18,
# + deferred, 1024, + not impersonated, 2048), sequenced after InstallFiles
# and before InstallFinalize. wixl has placed an action given
# After="InstallFiles" behind InstallFinalize, where no deferred action runs.
cmake_minimum_required(VERSION 3.25)

# msi_table(TABLE VARIABLE): the table as msiinfo exports it.
function(msi_table table variable)
  execute_process(COMMAND "${MSIINFO}" export "${MSI}" ${table}
    OUTPUT_VARIABLE rows
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${MSIINFO} could not export ${table} from ${MSI}")
  endif()
  set(${variable} "${rows}" PARENT_SCOPE)
endfunction()

msi_table(CustomAction actions)
if(NOT actions MATCHES "\nRegisterServiceEntry\t([0-9]+)\tSvcentryExe\t")
  message(FATAL_ERROR "${MSI} has no action running svcentry.exe")
endif()
if(NOT CMAKE_MATCH_1 EQUAL 3090)
  message(FATAL_ERROR "RegisterServiceEntry has type ${CMAKE_MATCH_1}, not 3090")
endif()

msi_table(InstallExecuteSequence sequence)
foreach(action InstallFiles RegisterServiceEntry InstallFinalize)
  if(NOT sequence MATCHES "\n${action}\t[^\t\n]*\t([0-9]+)")
    message(FATAL_ERROR "${action} is not in the InstallExecuteSequence")
  endif()
  set(${action} ${CMAKE_MATCH_1})
endforeach()
if(NOT (InstallFiles LESS RegisterServiceEntry AND
        RegisterServiceEntry LESS InstallFinalize))
  message(FATAL_ERROR "RegisterServiceEntry runs at ${RegisterServiceEntry}, "
    "not between InstallFiles (${InstallFiles}) and InstallFinalize "
    "(${InstallFinalize})")
endif()
