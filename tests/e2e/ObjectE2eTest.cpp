// Single-request operations end to end against the emulator, over HTTP and
// HTTPS: upload from memory, download whole and by range, removal, version.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <utility>

#include "E2eUtil.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::Fetch;

constexpr uint32_t kMaxMemoryObject = 32u * 1024 * 1024;

std::pair<int32_t, std::string> LastError(CObjectClient& client) {
  std::pair<int32_t, std::string> error;
  client.GetLastError(error.first, error.second);
  return error;
}

class ObjectE2eTest : public orca_test::ProtocolTest {
 protected:
  CObjectClient client_{emulator_.ObjectConfig()};
};

TEST_P(ObjectE2eTest, UploadReadBackRemove) {
  for (const uint32_t size : {0u, 1u, kMaxMemoryObject}) {
    SCOPED_TRACE(size);
    const std::string data = orca_test::GeneratedBytes(size, 0, size);
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
      emulator_.SetRedirect("always");  // the range goes on to a data node
      ASSERT_TRUE(Fetch(client_, url, back, "-1"));
      EXPECT_EQ(back, data.substr(size - 1));
      emulator_.SetRedirect("off");
    }
    ASSERT_TRUE(client_.RemoveFileByUrl(url));
    EXPECT_FALSE(Fetch(client_, url, back));
    EXPECT_EQ(LastError(client_), std::make_pair(9, std::string("NoSuchKey")));
  }
}

// A range goes into a header field: bytes outside printable ASCII would let
// it add fields of its own.
TEST_P(ObjectE2eTest, RangeWithUnprintableBytesIsRefusedBeforeAnyRequest) {
  const std::string url = "/pool1/" + orca_test::GeneratedKey(100, 1);
  const std::pair<std::string, std::string> cases[] = {
      {"0-1\r\nX-Injected: 1", "range[0-1\\x0d\\x0aX-Injected: 1] holds byte 0x0d at offset 3"},
      {"0-\x7f", "range[0-\\x7f] holds byte 0x7f at offset 2"},
      {"\xc3\xa9", "range[\\xc3\\xa9] holds byte 0xc3 at offset 0"},
  };
  for (const auto& [range, problem] : cases) {
    SCOPED_TRACE(problem);
    std::string data = "kept";
    EXPECT_FALSE(orca_test::Fetch(client_, url, data, range));
    EXPECT_EQ(data, "kept");
    EXPECT_EQ(LastError(client_),
              std::make_pair(2, problem + ", which cannot stand in a header field."));
  }
  EXPECT_TRUE(emulator_.Journal().empty());
}

// Keys and object URLs go on the request line as they are: any byte from
// 0x80 stands there (UTF-8), but control bytes, spaces and DEL are refused
// (code 2) before anything is sent. (A "#" goes out too, see the wire test;
// the emulator's HTTP library cuts the target there.)
TEST_P(ObjectE2eTest, KeysAndUrlsGoOutByteForByteOrNotAtAll) {
  for (const std::string name : {"caf\xc3\xa9.txt", "r\xc3\xa9sum\xc3\xa9(1)[2].txt"}) {
    SCOPED_TRACE(name);
    std::string url = name;
    ASSERT_TRUE(client_.UploadFileByPiecesAndFileName(url, "named", 5, true, true));
    EXPECT_EQ(url, "/pool1/" + name);
    std::string back;
    ASSERT_TRUE(Fetch(client_, url, back));
    EXPECT_EQ(back, "named");
  }
  emulator_.ClearJournal();
  const std::string bad = "/pool1/a b";
  const std::string refused =
      "[/pool1/a b] holds byte 0x20 at offset 8, which cannot stand in a request.";
  std::string data;
  EXPECT_FALSE(Fetch(client_, bad, data));
  EXPECT_EQ(LastError(client_), std::make_pair(2, "object url" + refused));
  EXPECT_FALSE(client_.RemoveFileByUrl("/pool1/x\r\ny"));
  EXPECT_EQ(LastError(client_).second,
            "object url[/pool1/x\\x0d\\x0ay] holds byte 0x0d at offset 8, which cannot stand in a "
            "request.");
  std::string url = "a\tb.bin";
  EXPECT_FALSE(client_.UploadFileByPiecesAndFileName(url, "x", 1, false, true));
  EXPECT_EQ(
      LastError(client_).second,
      "object key[a\\x09b.bin] holds byte 0x09 at offset 1, which cannot stand in a request.");
  url = "/pool1/x\x7f";
  EXPECT_FALSE(client_.UploadFileByPieces(url, "x", 1, true));
  EXPECT_EQ(LastError(client_).first, 2);
  EXPECT_TRUE(emulator_.Journal().empty());
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
  config.download_port = 0;  // fails Init, but uploads only use the upload port
  CObjectClient half(config);
  EXPECT_FALSE(half.Init());
  std::string url;
  EXPECT_TRUE(half.UploadFile(url, "x", 1));
}

TEST_P(ObjectE2eTest, VersionQueryOverPlainHttp) {
  if (GetParam()) GTEST_SKIP() << "the version query always uses plain HTTP";
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
  EXPECT_LE(std::accumulate(after.nodes.begin(), after.nodes.end(), uint64_t{0}) -
                std::accumulate(before.nodes.begin(), before.nodes.end(), uint64_t{0}),
            2 * after.nodes.size());
}

INSTANTIATE_TEST_SUITE_P(Protocols, ObjectE2eTest, ::testing::Bool(), orca_test::ProtocolName);

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
