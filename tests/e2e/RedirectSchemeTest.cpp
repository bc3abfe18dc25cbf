// A redirect is followed only to a Location that begins with the configured
// scheme: over HTTPS, a Location that merely holds "https://" further in
// must not send a signed request in clear to another host.
#include <gtest/gtest.h>

#include <string>

#include "CaptureServer.h"
#include "E2eUtil.h"

namespace Orca {
namespace CloudStorage {
namespace {

constexpr uint64_t kMiB = uint64_t{1024} * 1024;

class RedirectSchemeTest : public ::testing::Test {
 protected:
  void SetUp() override { clear_host_.Start(); }

  // Every answer of `role` to a target matching `glob` is a 302 to a
  // cleartext URL whose path holds "https://".
  void RedirectInClear(const std::string& role, const std::string& glob) {
    location_ = clear_host_.BaseUrl() + "/https://node/x";
    std::string answer;
    ASSERT_EQ(
        emulator_.Admin("POST", "/faults",
                        R"({"kind":"bad_location","count":1000,"role":")" + role + R"(","path":")" +
                            glob + R"(","location":")" + location_ + R"("})",
                        &answer),
        200)
        << answer;
  }

  // The last failure must be the unusable Location, and nothing may have
  // reached the host in clear.
  void ExpectRefused(CObjectClient& client) {
    int32_t code = 0;
    std::string message;
    client.GetLastError(code, message);
    EXPECT_EQ(code, 6);
    EXPECT_EQ(message, "redirect url error[" + location_ + "].");
    EXPECT_TRUE(clear_host_.Requests().empty());
  }

  orca_test::Emulator& emulator_ = orca_test::SharedEmulator::Get(true);
  orca_test::CaptureServer clear_host_;
  std::string location_;
};

TEST_F(RedirectSchemeTest, EveryDownloadPathRefusesTheLocation) {
  RedirectInClear("download", "*.bin");
  CObjectClient client(emulator_.ObjectConfig());
  const std::string dir = ::testing::TempDir();
  const struct {
    const char* name;
    uint64_t size;  // streamed below 10 MiB, ranged from there
    bool to_file;
  } cases[] = {
      {"memory", 1000, false},
      {"streamed file", 1000, true},
      {"ranged file", 10 * kMiB, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string url = "/pool1/" + orca_test::GeneratedKey(c.size, 3);
    std::string data;
    EXPECT_FALSE(c.to_file ? client.DownloadFile(url, dir + "/redirected")
                           : orca_test::Fetch(client, url, data));
    ExpectRefused(client);
  }
}

TEST_F(RedirectSchemeTest, PictureDownloadRefusesTheLocation) {
  RedirectInClear("gateway-download", "*.jpg");
  CPictureClient client(emulator_.PictureConfig());
  char* buffer = nullptr;
  uint32_t length = 0;
  EXPECT_FALSE(client.DownloadPicture(&buffer, length, "/QuarnBox/Picture/pool1/a.jpg"));
  EXPECT_TRUE(clear_host_.Requests().empty());
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
