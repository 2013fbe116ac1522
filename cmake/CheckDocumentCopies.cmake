# cmake -DDOCUMENT=... -DFILES="a;b" -P CheckDocumentCopies.cmake
#
# Fails unless DOCUMENT holds each of FILES whole, as the installer examples
# a guide shows must be exactly those the tests run. Line ends do not count:
# a batch file keeps CR LF, the guide LF.
cmake_minimum_required(VERSION 3.25)
file(READ "${DOCUMENT}" document)
foreach(path IN LISTS FILES)
  file(READ "${path}" text)
  string(REPLACE "\r" "" text "${text}")
  string(FIND "${document}" "${text}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${DOCUMENT} does not show ${path} as it is")
  endif()
endforeach()
