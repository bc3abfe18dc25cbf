// Pictures end to end through the emulator's gateway, over HTTP and HTTPS.
#include <gtest/gtest.h>

#include <string>

#include "E2eUtil.h"

namespace Orca {
namespace CloudStorage {
namespace {

class PictureE2eTest : public orca_test::ProtocolTest {
 protected:
  CPictureClient client_{emulator_.PictureConfig()};  // never initialised
};

TEST_P(PictureE2eTest, UploadAndDownloadDirectAndRedirected) {
  for (const size_t size : {size_t{2}, size_t{300} * 1024}) {
    SCOPED_TRACE(size);
    // Bytes that look like a JPEG: SOI marker, random middle, EOI marker.
    std::string picture = orca_test::GeneratedBytes(size, 0, size);
    picture.replace(0, 2, "\xff\xd8").replace(size - 2, 2, "\xff\xd9");
    std::string url;
    ASSERT_TRUE(client_.UploadPicture(url, picture.data(), static_cast<uint32_t>(size)));
    for (const char* redirect : {"off", "always"}) {
      emulator_.SetRedirect(redirect);
      char* buffer = nullptr;
      uint32_t length = 0;
      ASSERT_TRUE(client_.DownloadPicture(&buffer, length, url)) << redirect;
      EXPECT_TRUE(std::string(buffer, length) == picture) << redirect;
      delete[] buffer;
    }
    emulator_.SetRedirect("off");
  }
}

TEST_P(PictureE2eTest, NoRequestForAnOversizePictureOrARemoval) {
  std::string url;
  EXPECT_FALSE(client_.UploadPicture(url, nullptr, 32u * 1024 * 1024 + 1));
  EXPECT_TRUE(client_.RemoveFileByUrl("/anything"));
  EXPECT_TRUE(emulator_.Journal().empty());
}

INSTANTIATE_TEST_SUITE_P(Protocols, PictureE2eTest, ::testing::Bool(), orca_test::ProtocolName);

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
