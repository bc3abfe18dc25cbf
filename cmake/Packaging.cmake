# The installed package of the shared library:
#   find_package(OrcaCloudStorage) -> imported target OrcaCloudStorage::OrcaCloudStorage
#   pkg-config orca-cloud-storage
# The library's own dependencies are private (linked into it), so the package
# needs none of them.
include(CMakePackageConfigHelpers)

set(ORCA_CS_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/OrcaCloudStorage)

install(EXPORT OrcaCloudStorageTargets
  NAMESPACE OrcaCloudStorage::
  DESTINATION ${ORCA_CS_CMAKE_DIR}
  COMPONENT dev)

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/OrcaCloudStorageConfig.cmake.in
  ${PROJECT_BINARY_DIR}/OrcaCloudStorageConfig.cmake
  INSTALL_DESTINATION ${ORCA_CS_CMAKE_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/OrcaCloudStorageConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/OrcaCloudStorageConfig.cmake
  ${PROJECT_BINARY_DIR}/OrcaCloudStorageConfigVersion.cmake
  DESTINATION ${ORCA_CS_CMAKE_DIR}
  COMPONENT dev)

# The .pc file finds the prefix from its own location, so a staged install
# (cmake --install --prefix DIR) works as it is.
file(RELATIVE_PATH ORCA_CS_PC_TO_PREFIX
  /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ORCA_CS_PC_TO_PREFIX "${ORCA_CS_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/orca-cloud-storage.pc.in
  ${PROJECT_BINARY_DIR}/orca-cloud-storage.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orca-cloud-storage.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT dev)
