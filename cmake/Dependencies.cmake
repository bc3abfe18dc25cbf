# Third-party libraries, all from Debian's packages (see scripts/setup.sh).
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto SSL)
find_package(CURL REQUIRED)
find_package(pugixml REQUIRED)
find_package(RapidJSON REQUIRED)
find_package(PkgConfig REQUIRED)

if(NOT TARGET RapidJSON::RapidJSON)
  add_library(RapidJSON::RapidJSON INTERFACE IMPORTED)
  set_target_properties(RapidJSON::RapidJSON PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${RAPIDJSON_INCLUDE_DIRS}")
endif()

if(ORCA_CS_BUILD_TESTS OR EXISTS ${CMAKE_SOURCE_DIR}/emulator/CMakeLists.txt)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
endif()
if(ORCA_CS_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(ORCA_CS_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
