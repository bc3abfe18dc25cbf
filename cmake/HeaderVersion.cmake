# project(VERSION) is the version of the library, its SONAME, the CMake
# package and the pkg-config file. The public header states it too, as
# macros for host programs; configuring fails when the two disagree.
set(ORCA_CS_PUBLIC_HEADER ${PROJECT_SOURCE_DIR}/include/OrcaCloudStorage/StorageClient.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ORCA_CS_PUBLIC_HEADER})
file(STRINGS ${ORCA_CS_PUBLIC_HEADER} ORCA_CS_VERSION_LINES
     REGEX "^#define ORCA_CS_VERSION_[A-Z]+ ")
foreach(part MAJOR MINOR PATCH STRING)
  if(part STREQUAL "STRING")
    set(expected "\"${PROJECT_VERSION}\"")
  else()
    set(expected "${PROJECT_VERSION_${part}}")
  endif()
  if(NOT ORCA_CS_VERSION_LINES MATCHES "#define ORCA_CS_VERSION_${part} +([^ ;]+)"
     OR NOT CMAKE_MATCH_1 STREQUAL expected)
    message(FATAL_ERROR "${ORCA_CS_PUBLIC_HEADER}: ORCA_CS_VERSION_${part} must be ${expected} "
                        "to match project(VERSION ${PROJECT_VERSION})")
  endif()
endforeach()
