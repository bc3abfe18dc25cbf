# Debian packages of the install components (cpack, or the package presets):
#
#   liborcacloudstorage1     lib    the shared library
#   liborcacloudstorage-dev  dev    header, CMake package, pkg-config file, .so link
#   ocs-tools                tools  ocs, ocs-emulator, ocs's man page and bash completion
#
# Debian package names are lower case, hence not the library's own spelling.
# dpkg-shlibdeps computes the Debian packages the binaries need; -dev and
# ocs-tools depend on the library package of exactly their version. The
# packages install under CMAKE_INSTALL_PREFIX: configure with /usr (as the
# package preset does) for multiarch library paths and no run path.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_CONTACT "Orca Cloud Storage maintainers")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
# Each package's description below starts with its own synopsis line, which
# a package-wide summary would push aside.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL lib dev tools)

set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# ocs needs the library, which no installed package holds yet: dpkg-shlibdeps
# finds it in the build tree and leaves it to the component dependency.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_LIB_PACKAGE_NAME liborcacloudstorage${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
# A shlibs file (only the library package holds a shared library), so that
# packages built against the library depend on it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIB_DESCRIPTION "Orca Cloud Storage client library
Stores, fetches and removes objects on the object-storage service, and
pictures through its picture gateway (libOrcaCloudStorage.so.${PROJECT_VERSION_MAJOR}).")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME liborcacloudstorage-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "Orca Cloud Storage client library: development files
The header OrcaCloudStorage/StorageClient.h, the CMake package
(find_package(OrcaCloudStorage)) and the pkg-config file orca-cloud-storage.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ocs-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "Orca Cloud Storage command-line tool and emulator
ocs stores and fetches objects and pictures from the command line;
ocs-emulator serves the storage protocol and the picture gateway on
loopback, with fault injection, for tests and demonstrations.")

include(CPack)
cpack_add_component(lib)
cpack_add_component(dev DEPENDS lib)
cpack_add_component(tools DEPENDS lib)
