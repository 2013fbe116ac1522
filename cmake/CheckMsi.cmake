# cmake -DMSIINFO=... -DMSI=... [-DDOCUMENT=...] -P CheckMsi.cmake
#
# Fails unless the MSI runs the custom action the way Windows needs it and
# Wine cannot show: RegisterServiceEntry of the DLL in its Binary table, as a
# deferred custom action without impersonation whose failure fails the
# install (type 3073 = a DLL in the Binary table, 1, + deferred, 1024, + not
# impersonated, 2048), sequenced after InstallFiles and before
# InstallFinalize. wixl has placed an action given After="InstallFiles"
# behind InstallFinalize, where no deferred action runs.
# Also fails unless it installs the program with its license and notices,
# each file a component of its own and that component's key path, as Windows
# Installer's component rules ask: a file added to a component that another
# version installed already would be left behind, or missing, after an
# upgrade.
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
if(NOT actions MATCHES
   "\nRegisterServiceEntry\t([0-9]+)\tSvcentryMsi\tRegisterServiceEntry\t")
  message(FATAL_ERROR "${MSI} has no action calling RegisterServiceEntry of "
    "the binary SvcentryMsi")
endif()
if(NOT CMAKE_MATCH_1 EQUAL 3073)
  message(FATAL_ERROR "RegisterServiceEntry has type ${CMAKE_MATCH_1}, not 3073")
endif()
msi_table(Binary binaries)
if(NOT binaries MATCHES "\nSvcentryMsi\t")
  message(FATAL_ERROR "${MSI} carries no binary SvcentryMsi")
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

# msi_rows(TABLE VARIABLE): the table's rows, less the three lines of column
# names, column types and table name that head an export.
function(msi_rows table variable)
  msi_table(${table} rows)
  string(STRIP "${rows}" rows)
  string(REPLACE "\n" ";" rows "${rows}")
  list(SUBLIST rows 3 -1 rows)
  set(${variable} "${rows}" PARENT_SCOPE)
endfunction()

msi_rows(File files)
msi_table(Component components)
set(names)
set(seen)
foreach(row IN LISTS files)
  string(REPLACE "\t" ";" row "${row}")
  list(GET row 0 file)
  list(GET row 1 component)
  list(GET row 2 name)
  if(component IN_LIST seen)
    message(FATAL_ERROR "${name} shares component ${component} with another "
      "file")
  endif()
  list(APPEND seen "${component}")
  list(APPEND names "${name}")
  if(NOT components MATCHES "\n${component}\t[^\n]*\t${file}(\r?\n|$)")
    message(FATAL_ERROR "${name} is not the key path of its component "
      "${component}")
  endif()
endforeach()
foreach(name svcentry.exe LICENSE THIRD-PARTY-NOTICES.txt)
  if(NOT name IN_LIST names)
    message(FATAL_ERROR "${MSI} does not install ${name}")
  endif()
endforeach()

# Fleet tools find and remove an installed product by its codes, so the
# guide that gives them must give the MSI's own.
if(DOCUMENT)
  msi_table(Property properties)
  file(READ "${DOCUMENT}" document)
  foreach(code ProductCode UpgradeCode)
    if(NOT properties MATCHES "\n${code}\t([^\r\n]+)")
      message(FATAL_ERROR "${MSI} has no ${code}")
    endif()
    string(FIND "${document}" "${CMAKE_MATCH_1}" found)
    if(found EQUAL -1)
      message(FATAL_ERROR "${DOCUMENT} does not name the ${code} "
        "${CMAKE_MATCH_1}")
    endif()
  endforeach()
endif()
