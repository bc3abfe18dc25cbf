// Single-request operations end to end against the emulator, over HTTP and
// HTTPS: upload from memory, download whole and by range, removal, version.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "E2eUtil.h"
#include "OrcaCloudStorage/StorageClient.h"

namespace Orca {
namespace CloudStorage {
namespace {

constexpr uint32_t kMaxMemoryObject = 32u * 1024 * 1024;

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  return out;
}

struct LastError {
  int32_t code = 0;
  std::string msg;
};

LastError ErrorOf(CObjectClient& client) {
  LastError e;
  client.GetLastError(e.code, e.msg);
  return e;
}

// The memory download as a string; nullopt-like flag on failure.
bool Fetch(CObjectClient& client, const std::string& url, std::string& data,
           std::string range = "") {
  char* buffer = nullptr;
  uint32_t length = 0;
  const bool ok = range.empty() ? client.DownloadFile(&buffer, length, url)
                                : client.DownloadFile(&buffer, length, range, url);
  if (ok) {
    data.assign(buffer, length);
    delete[] buffer;
  }
  return ok;
}

class ObjectE2eTest : public ::testing::TestWithParam<bool> {
 protected:
  ObjectE2eTest() : emulator_(orca_test::SharedEmulator::Get(GetParam())) {}

  orca_test::Emulator& emulator_;
  CObjectClient client_{emulator_.ObjectConfig()};
};

TEST_P(ObjectE2eTest, UploadReadBackRemove) {
  for (const size_t size : {size_t{0}, size_t{1}, size_t{kMaxMemoryObject}}) {
    SCOPED_TRACE(size);
    const std::string data = RandomBytes(size, static_cast<uint32_t>(size));
    std::string url;
    ASSERT_TRUE(client_.UploadFile(url, data.data(), static_cast<uint32_t>(size)));
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
    const LastError error = ErrorOf(client_);
    EXPECT_EQ(error.code, 9);
    EXPECT_EQ(error.msg, "NoSuchKey");
  }
}

TEST_P(ObjectE2eTest, RangesOfALargerObject) {
  const std::string data = RandomBytes(1 << 20, 5);
  std::string url;
  ASSERT_TRUE(client_.UploadFile(url, data.data(), static_cast<uint32_t>(data.size())));
  const struct {
    const char* range;
    size_t first;
    size_t length;
  } cases[] = {
      {"100-199", 100, 100}, {"1000-", 1000, data.size() - 1000}, {"-500", data.size() - 500, 500}};
  for (const auto& c : cases) {
    std::string back;
    ASSERT_TRUE(Fetch(client_, url, back, c.range)) << c.range;
    EXPECT_TRUE(back == data.substr(c.first, c.length)) << c.range;
  }
  EXPECT_TRUE(client_.RemoveObjectFileByUrl(url));
}

TEST_P(ObjectE2eTest, OversizeUploadIsRefusedBeforeAnyRequest) {
  std::string url = "kept";
  EXPECT_FALSE(client_.UploadFile(url, nullptr, kMaxMemoryObject + 1));
  EXPECT_EQ(url, "kept");
  const LastError error = ErrorOf(client_);
  EXPECT_EQ(error.code, 2);
  EXPECT_EQ(error.msg, "file size exceed 32M.");
  EXPECT_TRUE(emulator_.Journal().empty());
}

TEST_P(ObjectE2eTest, MissingBucketAndKey) {
  std::string back;
  EXPECT_FALSE(Fetch(client_, "/pool1/never-stored.pfile", back));
  EXPECT_EQ(ErrorOf(client_).code, 9);
  EXPECT_FALSE(Fetch(client_, "/no-such-pool/k.pfile", back));
  EXPECT_EQ(ErrorOf(client_).code, 8);
  EXPECT_FALSE(client_.RemoveFileByUrl("/pool1/never-stored.pfile"));
  EXPECT_EQ(ErrorOf(client_).code, 5);
}

TEST_P(ObjectE2eTest, ClientWhoseInitFailedStillTransfers) {
  SStorageServerConfig config = emulator_.ObjectConfig();
  config.ip = "";  // fails Init; the transfer then goes nowhere
  CObjectClient broken(config);
  EXPECT_FALSE(broken.Init());
  std::string url;
  EXPECT_FALSE(broken.UploadFile(url, "x", 1));
  EXPECT_EQ(ErrorOf(broken).code, 4) << "the upload was attempted";

  config = emulator_.ObjectConfig();
  config.download_port = 0;  // fails Init, but uploads only use the upload port
  CObjectClient half(config);
  EXPECT_FALSE(half.Init());
  EXPECT_TRUE(half.UploadFile(url, "x", 1));
}

TEST_P(ObjectE2eTest, RedirectedDownloads) {
  const std::string data = RandomBytes(4096, 9);
  std::string url;
  ASSERT_TRUE(client_.UploadFile(url, data.data(), static_cast<uint32_t>(data.size())));
  emulator_.SetRedirect("always");
  std::string back;
  ASSERT_TRUE(Fetch(client_, url, back, "10-19"));
  EXPECT_EQ(back, data.substr(10, 10));
  bool saw_redirect = false;
  for (const orca_test::EmulatorRequest& request : emulator_.Journal()) {
    if (request.role == "download" && (request.status == 301 || request.status == 302)) {
      saw_redirect = true;
    }
  }
  EXPECT_TRUE(saw_redirect);
}

TEST_P(ObjectE2eTest, VersionQueryOverPlainHttp) {
  if (GetParam()) {
    GTEST_SKIP() << "the version query always uses plain HTTP";
  }
  std::string version;
  ASSERT_TRUE(client_.GetStorageVersion(version, emulator_.VersionServer()));
  EXPECT_FALSE(version.empty());

  SStorageServerInfo wrong_key = emulator_.VersionServer();
  wrong_key.sk = "not-the-secret";
  std::string kept = "kept";
  EXPECT_FALSE(client_.GetStorageVersion(kept, wrong_key));
  EXPECT_EQ(kept, "kept");
  EXPECT_EQ(ErrorOf(client_).code, 5);
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

INSTANTIATE_TEST_SUITE_P(Protocols, ObjectE2eTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& protocol) {
                           return orca_test::ProtocolName(protocol.param);
                         });

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
