# cmake -DOBJDUMP=... -DPROGRAM=... [-DALLOWED="a.dll;b.dll"]
#       -P CheckImports.cmake
#
# Fails unless PROGRAM imports only KERNEL32 and the C runtime that ships with
# Windows, and the DLLs in ALLOWED, so that it runs on a clean system with
# nothing installed. Any other import (a MinGW runtime DLL once -static is
# lost, say) is a decision to make here, not an accident.
cmake_minimum_required(VERSION 3.25)
set(allowed kernel32.dll msvcrt.dll ${ALLOWED})

execute_process(COMMAND "${OBJDUMP}" -p "${PROGRAM}"
  OUTPUT_VARIABLE headers
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} could not read ${PROGRAM}")
endif()

string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${headers}")
if(NOT lines)
  message(FATAL_ERROR "No import table found in ${PROGRAM}")
endif()
set(foreign)
foreach(line IN LISTS lines)
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" name)
  if(NOT name IN_LIST allowed)
    list(APPEND foreign "${dll}")
  endif()
endforeach()
if(foreign)
  list(JOIN foreign ", " foreign)
  list(JOIN allowed ", " allowed)
  message(FATAL_ERROR "${PROGRAM} imports ${foreign}; allowed are ${allowed}")
endif()
