// Pictures end to end through the emulator's gateway, over HTTP and HTTPS.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "E2eUtil.h"
#include "OrcaCloudStorage/StorageClient.h"

namespace Orca {
namespace CloudStorage {
namespace {

// Bytes that look like a JPEG: SOI marker, random middle, EOI marker.
std::string FakeJpeg(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  out.replace(0, 2, "\xff\xd8");
  out.replace(size - 2, 2, "\xff\xd9");
  return out;
}

class PictureE2eTest : public ::testing::TestWithParam<bool> {
 protected:
  PictureE2eTest() : emulator_(orca_test::SharedEmulator::Get(GetParam())) {}

  bool Fetch(CPictureClient& client, const std::string& url, std::string& data) {
    char* buffer = nullptr;
    uint32_t length = 0;
    if (!client.DownloadPicture(&buffer, length, url)) return false;
    data.assign(buffer, length);
    delete[] buffer;
    return true;
  }

  orca_test::Emulator& emulator_;
};

TEST_P(PictureE2eTest, UploadAndDownloadWithoutInit) {
  CPictureClient client(emulator_.PictureConfig());
  for (const size_t size : {size_t{2}, size_t{300 * 1024}}) {
    const std::string picture = FakeJpeg(size, static_cast<uint32_t>(size));
    std::string url;
    ASSERT_TRUE(client.UploadPicture(url, picture.data(), static_cast<uint32_t>(size)));
    ASSERT_FALSE(url.empty());
    std::string back;
    ASSERT_TRUE(Fetch(client, url, back));
    EXPECT_TRUE(back == picture);
  }
}

TEST_P(PictureE2eTest, RedirectedDownload) {
  CPictureClient client(emulator_.PictureConfig());
  const std::string picture = FakeJpeg(5000, 1);
  std::string url;
  ASSERT_TRUE(client.UploadPicture(url, picture.data(), static_cast<uint32_t>(picture.size())));
  emulator_.SetRedirect("always");
  std::string back;
  ASSERT_TRUE(Fetch(client, url, back));
  EXPECT_TRUE(back == picture);
}

TEST_P(PictureE2eTest, OversizeRefusedBeforeAnyRequest) {
  CPictureClient client(emulator_.PictureConfig());
  std::string url;
  EXPECT_FALSE(client.UploadPicture(url, nullptr, 32u * 1024 * 1024 + 1));
  EXPECT_TRUE(emulator_.Journal().empty());
}

TEST_P(PictureE2eTest, WrongKeyAndMissingPicture) {
  SStorageServerConfig config = emulator_.PictureConfig();
  config.sk = "wrong";
  CPictureClient wrong(config);
  std::string url;
  EXPECT_FALSE(wrong.UploadPicture(url, "\xff\xd8\xff\xd9", 4));
  CPictureClient client(emulator_.PictureConfig());
  std::string back;
  EXPECT_FALSE(Fetch(client, "/pictures/none.jpg", back));
  EXPECT_TRUE(client.RemoveFileByUrl("/anything"));
}

INSTANTIATE_TEST_SUITE_P(Protocols, PictureE2eTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& protocol) {
                           return orca_test::ProtocolName(protocol.param);
                         });

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
