# Runs one executable and checks how it ended. Invoked as
#   cmake -DCASE_FILE=<file> -P run_case.cmake
# where CASE_FILE sets:
#   command         the executable and its arguments (a list)
#   expected_exit   the exit status it must end with
#   stdout_has, stderr_has          texts each stream must contain
#   stdout_lacks, stderr_lacks      texts each stream must not contain
#   panic_message   a panic the report must show, exactly, line for line...
#   panic_file, panic_call          ...raised at the call that `panic_call` (ending in "(")
#                   opens in `panic_file`, relative to source_root
#   source_root     the project root
include(${CASE_FILE})

execute_process(COMMAND ${command}
  RESULT_VARIABLE actual_exit OUTPUT_VARIABLE actual_stdout ERROR_VARIABLE actual_stderr)

set(problems "")
macro(problem text)
  string(APPEND problems "  - ${text}\n")
endmacro()

# "file:line:column" of the last character of the first `needle` in `file`: where a call
# expression's position points.
function(position_of file needle out)
  file(READ ${source_root}/${file} content)
  string(FIND "${content}" "${needle}" offset)
  if(offset EQUAL -1)
    message(FATAL_ERROR "'${needle}' does not occur in ${file}")
  endif()
  string(SUBSTRING "${content}" 0 ${offset} before)
  string(REGEX MATCHALL "\n" newlines "${before}")
  list(LENGTH newlines line_breaks)
  string(FIND "${before}" "\n" line_start REVERSE)
  string(LENGTH "${needle}" needle_length)
  math(EXPR line "${line_breaks} + 1")
  math(EXPR column "${offset} - ${line_start} + ${needle_length} - 1")
  set(${out} "${file}:${line}:${column}" PARENT_SCOPE)
endfunction()

if(NOT actual_exit STREQUAL expected_exit)
  problem("exit status ${actual_exit}, expected ${expected_exit}")
endif()
if(DEFINED panic_message)
  position_of(${panic_file} "${panic_call}" position)
  list(APPEND stdout_has "panicked at ${position}:\n${panic_message}\n")
endif()
foreach(stream stdout stderr)
  foreach(text IN LISTS ${stream}_has)
    string(FIND "${actual_${stream}}" "${text}" found)
    if(found EQUAL -1)
      problem("${stream} lacks:\n${text}")
    endif()
  endforeach()
  foreach(text IN LISTS ${stream}_lacks)
    string(FIND "${actual_${stream}}" "${text}" found)
    if(NOT found EQUAL -1)
      problem("${stream} holds:\n${text}")
    endif()
  endforeach()
endforeach()

if(problems)
  message(FATAL_ERROR "${problems}--- stdout ---\n${actual_stdout}--- stderr ---\n${actual_stderr}")
endif()
