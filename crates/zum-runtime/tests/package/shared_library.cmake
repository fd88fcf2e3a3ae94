# Configures, builds and installs zum_runtime as a shared library, then checks its soname and
# that it exports only the public API. Unoptimized, without debug information or libzum_blas:
# what is checked is the build's, and so it takes two thirds of a Release build's time.
#   -DSOURCE=<project root> -DBINARY=<work dir> -DGENERATOR=<generator> -DCXX=<compiler>
set(build "${BINARY}/build")
set(prefix "${BINARY}/prefix")
execute_process(
  COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${build}" -G "${GENERATOR}"
          -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=None -DBUILD_SHARED_LIBS=ON
          -DZUM_BUILD_TESTS=OFF -DZUM_BUILD_BENCHMARKS=OFF -DZUM_BUILD_TOOLS=OFF
          -DZUM_BUILD_BLAS=OFF -DZUM_LINK_TIME_OPTIMIZATION=OFF
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${build}" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${build}" --prefix "${prefix}"
  COMMAND_ERROR_IS_FATAL ANY)

file(GLOB_RECURSE libraries "${prefix}/*/libzum_runtime.so.*.*.*")
list(LENGTH libraries found)
if(NOT found EQUAL 1)
  message(FATAL_ERROR "expected one versioned libzum_runtime.so in ${prefix}: ${libraries}")
endif()
execute_process(COMMAND objdump -p "${libraries}" OUTPUT_VARIABLE headers
  COMMAND_ERROR_IS_FATAL ANY)
if(NOT headers MATCHES "SONAME +libzum_runtime\\.so\\.0\n")
  message(FATAL_ERROR "soname is not libzum_runtime.so.0:\n${headers}")
endif()
execute_process(COMMAND nm -D -C --defined-only "${libraries}" OUTPUT_VARIABLE symbols
  COMMAND_ERROR_IS_FATAL ANY)
foreach(public "zum_runtime::blocked_data::block_coordinates(" "zum_runtime::panic("
                "zum_runtime::blocked_data::detail::pack_erased(" "typeinfo for zum_runtime::Panic")
  string(FIND "${symbols}" "${public}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the shared library does not export ${public}")
  endif()
endforeach()
foreach(internal "kernels::" "unchecked::" "assert_eq")
  string(FIND "${symbols}" "${internal}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "the shared library exports an internal symbol (${internal})")
  endif()
endforeach()
message(STATUS "shared library ${libraries}: soname libzum_runtime.so.0, public API only")
