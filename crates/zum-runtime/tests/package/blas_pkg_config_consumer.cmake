# Builds the C client of libzum_blas with nothing but pkg-config and the C compiler against the
# installed tree, and runs it.
#   -DPREFIX=<install prefix> -DSOURCE=<client.c> -DBINARY=<output dir> -DCC=<C compiler>
file(GLOB_RECURSE pc_files "${PREFIX}/*/zum_blas.pc")
list(LENGTH pc_files found)
if(NOT found EQUAL 1)
  message(FATAL_ERROR "expected one zum_blas.pc under ${PREFIX}, found: ${pc_files}")
endif()
get_filename_component(pc_dir "${pc_files}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
execute_process(COMMAND pkg-config --cflags --libs zum_blas
  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND pkg-config --variable=libdir zum_blas
  OUTPUT_VARIABLE libdir OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
separate_arguments(flags UNIX_COMMAND "${flags}")
file(MAKE_DIRECTORY "${BINARY}")
execute_process(COMMAND "${CC}" -std=c99 "${SOURCE}" ${flags} -o "${BINARY}/blas_client"
  COMMAND_ERROR_IS_FATAL ANY)
set(ENV{LD_LIBRARY_PATH} "${libdir}")
execute_process(COMMAND "${BINARY}/blas_client" COMMAND_ERROR_IS_FATAL ANY)
