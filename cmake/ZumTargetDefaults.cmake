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
    target_compile_options(${target} PRIVATE ${sanitizers})
    target_link_options(${target} PRIVATE ${sanitizers})
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
  endif()
endfunction()
