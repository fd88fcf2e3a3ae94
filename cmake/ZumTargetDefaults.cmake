# Settings every target of the project shares, applied per target rather than globally so a
# parent project that adds this one keeps its own flags.
function(zum_target_defaults target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion
    $<$<BOOL:${ZUM_WARNINGS_AS_ERRORS}>:-Werror>
    # Panic and assertion positions name files relative to the project root, not the path of
    # whichever machine built them.
    -fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)
  if(ZUM_SANITIZE)
    set(sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    # Address checks as calls, not inline branches: inline checks in the fully unrolled tiles
    # took Clang 74 s for one kernel file (11 s as calls); the tests run a little slower.
    target_compile_options(${target} PRIVATE ${sanitizers}
      $<$<CXX_COMPILER_ID:Clang>:-fsanitize-address-outline-instrumentation>
      $<$<CXX_COMPILER_ID:GNU>:--param=asan-instrumentation-with-call-threshold=0>)
    target_link_options(${target} PRIVATE ${sanitizers})
  endif()
  if(ZUM_SANITIZE_THREAD)
    target_compile_options(${target} PRIVATE -fsanitize=thread)
    target_link_options(${target} PRIVATE -fsanitize=thread)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
  endif()
endfunction()

# Coverage for libFuzzer, on the code the fuzzers explore: the library and the targets. The
# suite's programs link the library all the same (the sanitizers' runtime answers its coverage
# calls), and leave their own code uninstrumented, which compiles and runs faster.
function(zum_fuzz_coverage target)
  if(ZUM_FUZZ)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

# Lets the optimizer inline the library's mapping into the project's own loops across
# translation units, in optimized builds where the toolchain supports it (ZUM_LINK_TIME_OPTIMIZATION,
# on by default only when this is the top-level project). The mapping stays an ordinary
# function of the library all the same.
include(CheckIPOSupported)
check_ipo_supported(RESULT zum_ipo_supported OUTPUT zum_ipo_output LANGUAGES CXX)
function(zum_link_time_optimization target)
  if(NOT ZUM_LINK_TIME_OPTIMIZATION OR NOT zum_ipo_supported OR ZUM_SANITIZE OR ZUM_SANITIZE_THREAD)
    return()
  endif()
  # A static library keeps ordinary machine code beside the optimizer's form, so it links into
  # programs built without link-time optimization too. Only g++ can keep both; with another
  # compiler the library stays ordinary machine code.
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "STATIC_LIBRARY")
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      return()
    endif()
    target_compile_options(${target} PRIVATE $<$<CONFIG:Release,RelWithDebInfo>:-ffat-lto-objects>)
  endif()
  set_target_properties(${target} PROPERTIES
    INTERPROCEDURAL_OPTIMIZATION_RELEASE ON
    INTERPROCEDURAL_OPTIMIZATION_RELWITHDEBINFO ON)
endfunction()

# Links an optimized executable statically: a run then maps no shared libraries and resolves
# no symbols, which for a short test process is most of its start-up. The project's own
# choice, made only when it is the top-level project.
function(zum_static_when_optimized target)
  if(PROJECT_IS_TOP_LEVEL AND NOT ZUM_SANITIZE AND NOT ZUM_SANITIZE_THREAD)
    target_link_options(${target} PRIVATE $<$<CONFIG:Release,RelWithDebInfo>:-static>)
  endif()
endfunction()
