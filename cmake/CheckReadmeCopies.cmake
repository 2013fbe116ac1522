# cmake -DREADME=... -DFILES="a;b" -P CheckReadmeCopies.cmake
#
# Fails unless the README holds each of FILES whole, as the installer
# examples it shows must be exactly those the tests run. Line ends do not
# count: a batch file keeps CR LF, the README LF.
cmake_minimum_required(VERSION 3.25)
file(READ "${README}" readme)
foreach(path IN LISTS FILES)
  file(READ "${path}" text)
  string(REPLACE "\r" "" text "${text}")
  string(FIND "${readme}" "${text}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${README} does not show ${path} as it is")
  endif()
endforeach()
