# Builds and runs the consumer with nothing but pkg-config and the compiler.
#   -DPREFIX=<install prefix> -DSOURCE=<consumer sources> -DBINARY=<output dir> -DCXX=<compiler>
file(GLOB_RECURSE pc_files "${PREFIX}/*/zum_runtime.pc")
list(LENGTH pc_files found)
if(NOT found EQUAL 1)
  message(FATAL_ERROR "expected one zum_runtime.pc under ${PREFIX}, found: ${pc_files}")
endif()
get_filename_component(pc_dir "${pc_files}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
execute_process(COMMAND pkg-config --cflags --libs zum_runtime
  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
separate_arguments(flags UNIX_COMMAND "${flags}")
file(MAKE_DIRECTORY "${BINARY}")
execute_process(
  COMMAND "${CXX}" -std=c++20 -fPIC "${SOURCE}/main.cpp" "${SOURCE}/plugin.cpp" ${flags}
          -o "${BINARY}/consumer"
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${BINARY}/consumer" COMMAND_ERROR_IS_FATAL ANY)
