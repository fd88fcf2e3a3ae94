# Builds and runs the consumer with nothing but pkg-config and the compiler.
#   -DPREFIX=<install prefix> -DSOURCE=<consumer sources> -DBINARY=<output dir> -DCXX=<compiler>
include(${CMAKE_CURRENT_LIST_DIR}/pkg_config_flags.cmake)
zum_pkg_config_flags(zum_runtime flags)
file(MAKE_DIRECTORY "${BINARY}")
execute_process(
  COMMAND "${CXX}" -std=c++20 -fPIC "${SOURCE}/main.cpp" "${SOURCE}/plugin.cpp" ${flags}
          -o "${BINARY}/consumer"
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${BINARY}/consumer" COMMAND_ERROR_IS_FATAL ANY)
