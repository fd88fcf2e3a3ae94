# Runs one executable and checks how it ended. Invoked as
#   cmake -DCASE_FILE=<file> -P run_case.cmake
# where CASE_FILE sets:
#   command         the executable and its arguments (a list)
#   expected_exit   the exit status it must end with
#   stdout_has, stderr_has          texts each stream must contain
#   stdout_lacks, stderr_lacks      texts each stream must not contain
#   stdout_file     a file standard output must equal exactly
#   stdout_count    a text and how many times standard output must contain it
#   one_line_error  when true: nothing on standard output, exactly one line on standard error
#   panic_message   a panic the report must show, exactly, line for line...
#   panic_file, panic_call          ...raised at the call in `panic_call`, a text that
#                   occurs once in `panic_file` (relative to source_root): g++ places a call
#                   expression at its first "(", Clang at the start of the called name
#   compiler_id     CMAKE_CXX_COMPILER_ID of the build
#   source_root     the project root
include(${CASE_FILE})

execute_process(COMMAND ${command}
  RESULT_VARIABLE actual_exit OUTPUT_VARIABLE actual_stdout ERROR_VARIABLE actual_stderr)

set(problems "")
macro(problem text)
  string(APPEND problems "  - ${text}\n")
endmacro()

# "file:line:column" of the call in the first `needle` in `file`: its first "(", or for Clang
# the start of the qualified name before it.
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
  string(FIND "${needle}" "(" parenthesis)
  if(compiler_id STREQUAL "Clang")
    string(SUBSTRING "${needle}" 0 ${parenthesis} callee)
    string(REGEX REPLACE "[A-Za-z0-9_:]+$" "" callee_start "${callee}")
    string(LENGTH "${callee_start}" parenthesis)
  endif()
  math(EXPR line "${line_breaks} + 1")
  math(EXPR column "${offset} - ${line_start} + ${parenthesis}")
  set(${out} "${file}:${line}:${column}" PARENT_SCOPE)
endfunction()

if(NOT actual_exit STREQUAL expected_exit)
  problem("exit status ${actual_exit}, expected ${expected_exit}")
endif()
if(stdout_file)
  file(READ ${stdout_file} expected_stdout)
  if(NOT actual_stdout STREQUAL expected_stdout)
    problem("stdout differs from ${stdout_file}; expected:\n${expected_stdout}")
  endif()
endif()
if(DEFINED stdout_count)
  list(GET stdout_count 0 needle)
  list(GET stdout_count 1 expected_count)
  string(LENGTH "${needle}" needle_length)
  set(rest "${actual_stdout}")
  set(count 0)
  string(FIND "${rest}" "${needle}" at)
  while(NOT at EQUAL -1)
    math(EXPR count "${count} + 1")
    math(EXPR after "${at} + ${needle_length}")
    string(SUBSTRING "${rest}" ${after} -1 rest)
    string(FIND "${rest}" "${needle}" at)
  endwhile()
  if(NOT count EQUAL expected_count)
    problem("stdout holds '${needle}' ${count} times, expected ${expected_count}")
  endif()
endif()
if(one_line_error)
  string(REGEX MATCHALL "\n" stderr_newlines "${actual_stderr}")
  list(LENGTH stderr_newlines stderr_lines)
  if(NOT actual_stdout STREQUAL "" OR NOT stderr_lines EQUAL 1 OR NOT actual_stderr MATCHES "\n$")
    problem("expected nothing on stdout and one line on stderr")
  endif()
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
