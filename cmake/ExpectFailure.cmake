# cmake -DEXPECTED=REGEX -P ExpectFailure.cmake -- COMMAND [ARGUMENT...]
#
# Passes only when COMMAND fails (a non-zero exit code) and says why in a
# line that matches EXPECTED: a check that must reject a case is tried on
# that case, and neither a crash nor a success passes for the rejection.
cmake_minimum_required(VERSION 3.25)
set(command)
set(take OFF)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(index RANGE ${last})
  if(take)
    list(APPEND command "${CMAKE_ARGV${index}}")
  elseif("${CMAKE_ARGV${index}}" STREQUAL "--")
    set(take ON)
  endif()
endforeach()
execute_process(COMMAND ${command}
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
message("${output}")
if(result EQUAL 0)
  message(FATAL_ERROR "${command} succeeded, and was to fail")
elseif(NOT result MATCHES "^[0-9]+$")
  message(FATAL_ERROR "${command} did not end by itself: ${result}")
elseif(NOT output MATCHES "${EXPECTED}")
  message(FATAL_ERROR "${command} failed, but without saying ${EXPECTED}")
endif()
