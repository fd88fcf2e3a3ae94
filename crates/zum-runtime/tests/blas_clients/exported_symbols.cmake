# Prints the dynamic symbols LIBRARY defines, sorted: "exports: a b c".
#   cmake -DLIBRARY=<shared library> -P exported_symbols.cmake
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-f]* *[A-Za-z] " "" name "${line}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
list(JOIN names " " joined)
message("exports: ${joined}")
