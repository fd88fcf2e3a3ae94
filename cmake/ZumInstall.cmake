# Installs zum_runtime as a package: the library (and libzum_blas) and its public headers under
# include/zum_runtime/, zum-layout and zum-gemm-e2e when they are built, a CMake package (zum::runtime, with config
# and version files) and a pkg-config file. Included from the library's directory.
include(CMakePackageConfigHelpers)

set(zum_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/zum_runtime)

set(zum_installed_libraries zum_runtime)
if(TARGET zum_blas)
  list(APPEND zum_installed_libraries zum_blas)
endif()
install(TARGETS ${zum_installed_libraries} EXPORT zum_runtime_targets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
list(TRANSFORM zum_runtime_public_headers PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/src/
  OUTPUT_VARIABLE zum_header_files)
install(FILES ${zum_header_files} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zum_runtime)
if(TARGET zum-layout)
  install(TARGETS zum-layout zum-gemm-e2e RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(EXPORT zum_runtime_targets
  NAMESPACE zum::
  FILE zum_runtimeTargets.cmake
  DESTINATION ${zum_package_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zum_runtimeConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zum_runtimeConfig.cmake
  INSTALL_DESTINATION ${zum_package_dir})
# Versions with the same major version are compatible.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zum_runtimeConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/zum_runtimeConfig.cmake
  ${PROJECT_BINARY_DIR}/zum_runtimeConfigVersion.cmake
  DESTINATION ${zum_package_dir})

# The .pc file finds the prefix from its own place, so the tree works wherever it is installed
# (cmake --install --prefix chooses the prefix after configuring).
file(RELATIVE_PATH zum_pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" zum_pc_to_prefix "${zum_pc_to_prefix}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/zum_runtime.pc.in ${PROJECT_BINARY_DIR}/zum_runtime.pc
  @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zum_runtime.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(TARGET zum_blas)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/zum_blas.pc.in ${PROJECT_BINARY_DIR}/zum_blas.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/zum_blas.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
