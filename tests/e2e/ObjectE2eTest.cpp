// Single-request operations end to end against the emulator, over HTTP and
// HTTPS: upload from memory, download whole and by range, removal, version.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "E2eUtil.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::Fetch;

constexpr uint32_t kMaxMemoryObject = 32u * 1024 * 1024;

std::pair<int32_t, std::string> LastError(CObjectClient& client) {
  int32_t code = 0;
  std::string msg;
  client.GetLastError(code, msg);
  return {code, msg};
}

class ObjectE2eTest : public orca_test::ProtocolTest {
 protected:
  CObjectClient client_{emulator_.ObjectConfig()};
};

TEST_P(ObjectE2eTest, UploadReadBackRemove) {
  for (const uint32_t size : {0u, 1u, kMaxMemoryObject}) {
    SCOPED_TRACE(size);
    const std::string data = orca_test::RandomBytes(size, size);
    std::string url;
    ASSERT_TRUE(client_.UploadFile(url, data.data(), size));
    EXPECT_EQ(url.rfind("/pool1/", 0), 0u) << url;
    EXPECT_EQ(url.substr(url.size() - 6), ".pfile");

    std::string back;
    ASSERT_TRUE(Fetch(client_, url, back));
    EXPECT_TRUE(back == data);
    if (size > 0) {
      ASSERT_TRUE(Fetch(client_, url, back, "0-0"));
      EXPECT_EQ(back, data.substr(0, 1));
      ASSERT_TRUE(Fetch(client_, url, back, "-1"));
      EXPECT_EQ(back, data.substr(size - 1));
    }
    ASSERT_TRUE(client_.RemoveFileByUrl(url));
    EXPECT_FALSE(Fetch(client_, url, back));
    EXPECT_EQ(LastError(client_), std::make_pair(9, std::string("NoSuchKey")));
  }
  std::string back;
  EXPECT_FALSE(Fetch(client_, "/no-such-pool/k.pfile", back));
  EXPECT_EQ(LastError(client_).first, 8);
}

TEST_P(ObjectE2eTest, OversizeUploadIsRefusedBeforeAnyRequest) {
  std::string url = "kept";
  EXPECT_FALSE(client_.UploadFile(url, nullptr, kMaxMemoryObject + 1));
  EXPECT_EQ(url, "kept");
  EXPECT_EQ(LastError(client_), std::make_pair(2, std::string("file size exceed 32M.")));
  EXPECT_TRUE(emulator_.Journal().empty());
}

TEST_P(ObjectE2eTest, ClientWhoseInitFailedStillTransfers) {
  SStorageServerConfig config = emulator_.ObjectConfig();
  config.ip = "";  // fails Init; the transfer then goes nowhere
  CObjectClient broken(config);
  EXPECT_FALSE(broken.Init());
  std::string url;
  EXPECT_FALSE(broken.UploadFile(url, "x", 1));
  EXPECT_EQ(LastError(broken).first, 4) << "the upload was attempted";

  config = emulator_.ObjectConfig();
  config.download_port = 0;  // fails Init, but uploads only use the upload port
  CObjectClient half(config);
  EXPECT_FALSE(half.Init());
  EXPECT_TRUE(half.UploadFile(url, "x", 1));
}

TEST_P(ObjectE2eTest, RedirectedRangeDownload) {
  const std::string data = orca_test::RandomBytes(4096, 9);
  std::string url;
  ASSERT_TRUE(client_.UploadFile(url, data.data(), static_cast<uint32_t>(data.size())));
  emulator_.SetRedirect("always");
  std::string back;
  ASSERT_TRUE(Fetch(client_, url, back, "10-19"));
  EXPECT_EQ(back, data.substr(10, 10));
  const std::vector<orca_test::EmulatorRequest> journal = emulator_.Journal();
  EXPECT_TRUE(std::any_of(journal.begin(), journal.end(), [](const auto& request) {
    return request.role == "download" && request.status == 302;
  }));
}

TEST_P(ObjectE2eTest, VersionQueryOverPlainHttp) {
  if (GetParam()) {
    GTEST_SKIP() << "the version query always uses plain HTTP";
  }
  std::string version;
  ASSERT_TRUE(client_.GetStorageVersion(version, emulator_.VersionServer()));
  EXPECT_FALSE(version.empty());
}

TEST_P(ObjectE2eTest, SmallRoundTripsReuseConnections) {
  const orca_test::EmulatorConnections before = emulator_.Connections();
  for (int i = 0; i < 20; ++i) {
    std::string url;
    ASSERT_TRUE(client_.UploadFile(url, "tiny", 4));
    std::string back;
    ASSERT_TRUE(Fetch(client_, url, back));
  }
  const orca_test::EmulatorConnections after = emulator_.Connections();
  EXPECT_LE(after.upload - before.upload, 2u);
  EXPECT_LE(after.download - before.download, 2u);
  uint64_t node_connections = 0;
  for (size_t i = 0; i < after.nodes.size(); ++i) {
    node_connections += after.nodes[i] - before.nodes[i];
  }
  EXPECT_LE(node_connections, 2 * after.nodes.size());
}

INSTANTIATE_TEST_SUITE_P(Protocols, ObjectE2eTest, ::testing::Bool(), orca_test::ProtocolName);

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
