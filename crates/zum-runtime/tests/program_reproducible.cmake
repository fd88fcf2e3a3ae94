# Runs zum-gemm-e2e twice with one seed and once with another: the same seed must give the same
# largest error to the last digit printed, another seed a different one.
function(largest_error seed result)
  execute_process(COMMAND ${PROGRAM} 97 61 45 --seed ${seed} --json
    OUTPUT_VARIABLE output RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "seed ${seed}: exit status ${status}\n${output}")
  endif()
  string(REGEX MATCH "\"largest_error_fraction\": [^,]+" field "${output}")
  set(${result} "${field}" PARENT_SCOPE)
endfunction()

largest_error(42 first)
largest_error(42 second)
largest_error(43 other)
if(NOT first STREQUAL second)
  message(FATAL_ERROR "seed 42 gave ${first}, then ${second}")
endif()
if(first STREQUAL other)
  message(FATAL_ERROR "seeds 42 and 43 both gave ${first}")
endif()
message(STATUS "seed 42: ${first} twice; seed 43: ${other}")
