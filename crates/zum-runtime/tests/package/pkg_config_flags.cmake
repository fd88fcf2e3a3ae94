# zum_pkg_config_flags(<package> <flags variable>): the compiler flags pkg-config gives for
# <package>, from the one <package>.pc installed under PREFIX, as a list. Also points
# PKG_CONFIG_PATH at that file, for further queries.
function(zum_pkg_config_flags package flags_variable)
  file(GLOB_RECURSE pc_files "${PREFIX}/*/${package}.pc")
  list(LENGTH pc_files found)
  if(NOT found EQUAL 1)
    message(FATAL_ERROR "expected one ${package}.pc under ${PREFIX}, found: ${pc_files}")
  endif()
  get_filename_component(pc_dir "${pc_files}" DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
  execute_process(COMMAND pkg-config --cflags --libs ${package}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(${flags_variable} "${flags}" PARENT_SCOPE)
endfunction()
