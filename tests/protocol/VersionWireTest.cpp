// The version query: plain HTTP whatever the configuration, signed with the
// keys of the address record.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "CaptureServer.h"
#include "OrcaCloudStorage/StorageClient.h"
#include "WireCheck.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::CapturedRequest;
using orca_test::Reply;
using orca_test::XmlReply;

class VersionWireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Start();
    info_.ip = "127.0.0.1";
    info_.port = static_cast<uint32_t>(server_.port());
    info_.ak = orca_test::kAccessKey;
    info_.sk = orca_test::kSecretKey;
  }
  static SStorageServerConfig OtherServerOverHttps() {
    SStorageServerConfig config;
    config.use_https = true;
    config.ip = "10.9.9.9";
    config.upload_port = 1;
    config.download_port = 2;
    config.pool_name = "p";
    config.ak = "OTHER";
    config.sk = "other-secret";
    return config;
  }
  std::pair<int32_t, std::string> LastError() {
    int32_t code = 0;
    std::string msg;
    client_.GetLastError(code, msg);
    return {code, msg};
  }

  orca_test::CaptureServer server_;
  SStorageServerInfo info_;
  CObjectClient client_{OtherServerOverHttps()};
};

TEST_F(VersionWireTest, RequestUsesTheAddressRecord) {
  server_.Enqueue(XmlReply(200, "<CloudVersion><version>3.2.1</version></CloudVersion>"));
  std::string version;
  ASSERT_TRUE(client_.GetStorageVersion(version, info_));
  EXPECT_EQ(version, "3.2.1");

  const std::vector<CapturedRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const CapturedRequest& request = requests[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, "/?version");
  EXPECT_EQ(request.Header("Host"), "127.0.0.1:" + std::to_string(server_.port()));
  EXPECT_EQ(request.Header("Content-Type"), "application/xml; charset=utf-8");
  EXPECT_THAT(orca_test::OrderedHeaderNames(request),
              ::testing::ElementsAre("Host", "Date", "Authorization"));
  EXPECT_EQ(request.Header("Authorization"), orca_test::ObjectAuthorization(request, "?version"));
}

TEST_F(VersionWireTest, Answers) {
  const struct {
    const char* name;
    Reply reply;
    bool ok;
    const char* version;
    int32_t code;
    const char* message;
  } cases[] = {
      {"no version element", XmlReply(200, "<CloudVersion/>"), true, "", 0, ""},
      {"not XML", XmlReply(200, "v1"), false, "kept", 5,
       "get storage version rsp msg invalid[v1]."},
      {"403", XmlReply(403, "SignatureDoesNotMatch"), false, "kept", 5,
       "get storage version rsp status code[403]."},
      {"302",
       {302, {{"Location", "http://127.0.0.1:1/?version"}}, ""},
       false,
       "kept",
       5,
       "get storage version rsp status code[302]."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Enqueue(c.reply);
    std::string version = "kept";
    EXPECT_EQ(client_.GetStorageVersion(version, info_), c.ok);
    EXPECT_EQ(version, c.version);
    if (!c.ok) {
      EXPECT_EQ(LastError(), std::make_pair(c.code, std::string(c.message)));
    }
  }
}

TEST_F(VersionWireTest, TransportFailure) {
  Reply reset;
  reset.action = Reply::Action::kResetWithoutAnswer;
  server_.Enqueue(reset);
  std::string version = "kept";
  EXPECT_FALSE(client_.GetStorageVersion(version, info_));
  EXPECT_EQ(version, "kept");
  EXPECT_EQ(LastError().first, 4);
  EXPECT_THAT(LastError().second,
              ::testing::MatchesRegex("Send get storage version msg failed\\[[0-9]+:[0-9]+\\]\\."));
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
