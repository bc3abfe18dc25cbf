# Fails unless the shared library LIBRARY exports (dynamic, defined symbols
# read with NM) only the members of the public classes, SetLogSink and
# GetLibraryVersion, and exports each public class at all.
#   cmake -DNM=nm -DLIBRARY=libOrcaCloudStorage.so -P CheckExports.cmake
execute_process(COMMAND ${NM} -D --defined-only -C ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()

set(public "^Orca::CloudStorage::(CObjectClient::|CPictureClient::|SetLogSink\\(|GetLibraryVersion\\()")
string(REPLACE "\n" ";" lines "${listing}")
set(foreign "")
set(count 0)
foreach(line IN LISTS lines)
  # "<address> <type> <demangled name>"
  if(NOT line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.*)$")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  math(EXPR count "${count} + 1")
  if(NOT name MATCHES "${public}")
    string(APPEND foreign "  ${name}\n")
  endif()
endforeach()

if(foreign)
  message(FATAL_ERROR "${LIBRARY} exports symbols outside the public API:\n${foreign}")
endif()
foreach(required "CObjectClient::UploadFile" "CPictureClient::UploadPicture" "SetLogSink"
                 "GetLibraryVersion")
  string(FIND "${listing}" "Orca::CloudStorage::${required}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${LIBRARY} does not export Orca::CloudStorage::${required}")
  endif()
endforeach()
message(STATUS "${count} exported symbols, all in the public API")
