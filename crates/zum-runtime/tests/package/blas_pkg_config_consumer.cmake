# Builds the C client of libzum_blas with nothing but pkg-config and the C compiler against the
# installed tree, and runs it.
#   -DPREFIX=<install prefix> -DSOURCE=<client.c> -DBINARY=<output dir> -DCC=<C compiler>
include(${CMAKE_CURRENT_LIST_DIR}/pkg_config_flags.cmake)
zum_pkg_config_flags(zum_blas flags)
execute_process(COMMAND pkg-config --variable=libdir zum_blas
  OUTPUT_VARIABLE libdir OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
file(MAKE_DIRECTORY "${BINARY}")
execute_process(COMMAND "${CC}" -std=c99 "${SOURCE}" ${flags} -o "${BINARY}/blas_client"
  COMMAND_ERROR_IS_FATAL ANY)
set(ENV{LD_LIBRARY_PATH} "${libdir}")
execute_process(COMMAND "${BINARY}/blas_client" COMMAND_ERROR_IS_FATAL ANY)
