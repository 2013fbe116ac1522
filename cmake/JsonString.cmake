# json_string(TEXT VARIABLE): TEXT as a JSON string, for string(JSON SET).
function(json_string text variable)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${variable} "\"${text}\"" PARENT_SCOPE)
endfunction()
