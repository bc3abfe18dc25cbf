// The shared library, loaded as a host loads it, reports the version its
// header states.
#include <gtest/gtest.h>

#include <string>

#include "OrcaCloudStorage/StorageClient.h"

namespace Orca {
namespace CloudStorage {
namespace {

TEST(LibraryVersionTest, LibraryAndHeaderAgree) {
  EXPECT_STREQ(GetLibraryVersion(), ORCA_CS_VERSION_STRING);
  EXPECT_EQ(ORCA_CS_VERSION_STRING, std::to_string(ORCA_CS_VERSION_MAJOR) + "." +
                                        std::to_string(ORCA_CS_VERSION_MINOR) + "." +
                                        std::to_string(ORCA_CS_VERSION_PATCH));
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
