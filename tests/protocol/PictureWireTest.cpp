// The picture gateway protocol on the wire: best node, the upload form byte
// for byte, downloads and their redirect.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CaptureServer.h"
#include "LogCapture.h"
#include "OrcaCloudStorage/StorageClient.h"
#include "WireCheck.h"
#include "base/Clock.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::CapturedRequest;
using orca_test::CaptureServer;
using orca_test::Reply;

Reply JsonReply(int status, const std::string& json) {
  return Reply{status, {{"Content-Type", "text/json"}}, json};
}

// The form the gateway expects, written out literally.
std::string ExpectedForm(const std::string& serial, const std::string& timestamp,
                         const std::string& token, const std::string& picture) {
  std::string form;
  const std::pair<const char*, std::string> fields[] = {
      {"SerialID", serial}, {"PoolID", "pics"}, {"TimeStamp", timestamp},
      {"PictureType", "1"}, {"Token", token},   {"PictureLength", std::to_string(picture.size())}};
  for (const auto& [name, value] : fields) {
    form += "--------7e02362550dc4\r\nContent-Disposition: form-data; name=\"";
    form += name;
    form += "\"\r\n\r\n" + value + "\r\n";
  }
  form += "--------7e02362550dc4\r\nContent-Disposition: form-data; name=\"Picture\"\r\n";
  form += "Content-Type: image/jpeg\r\n\r\n" + picture;
  form += "\r\n--------7e02362550dc4--\r\n\r\n";
  return form;
}

// `gateway_` takes best-node queries and downloads (its two ports are the
// configured ones); `node_` is the gateway node that takes the picture.
class PictureWireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gateway_.Start();
    node_.Start();
    config_.ip = "127.0.0.1";
    config_.upload_port = static_cast<uint32_t>(gateway_.port());
    config_.download_port = static_cast<uint32_t>(gateway_.port());
    config_.pool_name = "pics";
    config_.ak = orca_test::kAccessKey;
    config_.sk = orca_test::kSecretKey;
  }
  void TearDown() override { Base::SetClockForTesting(nullptr); }

  std::string Host() const { return "127.0.0.1:" + std::to_string(gateway_.port()); }
  Reply BestNode(const std::string& port_json, const std::string& token_member) const {
    return JsonReply(
        200, "{\"GatewayIP\":\"127.0.0.1\",\"GatewayPort\":" + port_json + token_member + "}");
  }

  CaptureServer gateway_;
  CaptureServer node_;
  SStorageServerConfig config_;
};

TEST_F(PictureWireTest, UploadSendsTheFormByteForByte) {
  Base::SetClockForTesting([]() -> int64_t { return 1797252916; });
  for (const std::string& picture :
       {std::string("\xff\xd8\xff\xe0 jpeg\0bytes\r\n--", 20), std::string()}) {
    SCOPED_TRACE(picture.size());
    gateway_.Enqueue(BestNode(std::to_string(node_.port()), ",\"Token\":\"tok-1\""));
    node_.Enqueue(JsonReply(200, "{\"PictureUrl\":\"/pics/abc.jpg\"}"));
    CPictureClient client(config_);
    std::string url;
    ASSERT_TRUE(client.UploadPicture(url, picture.data(), static_cast<uint32_t>(picture.size())));
    EXPECT_EQ(url, "/pics/abc.jpg");

    const CapturedRequest query = gateway_.Requests().back();
    EXPECT_EQ(query.method, "GET");
    const std::string prefix = "/QuarnBox/BestNode?SerialID=";
    ASSERT_THAT(query.target, ::testing::MatchesRegex("/QuarnBox/BestNode\\?SerialID=[-0-9a-f]{36}"
                                                      "&PoolID=pics&Replication=0"));
    EXPECT_EQ(orca_test::OrderedHeaderNames(query),
              std::vector<std::string>({"Host", "Date", "Authorization"}));
    EXPECT_EQ(query.Header("Content-Type"), "text/json");
    EXPECT_EQ(query.Header("Authorization"),
              orca_test::PictureAuthorization(query, query.target, "text/json"));

    const CapturedRequest write = node_.Requests().back();
    EXPECT_EQ(write.method, "POST");
    EXPECT_EQ(write.target, "/QuarnBox/Picture/Write");
    EXPECT_EQ(write.Header("Host"), Host()) << "the configured address, not the node's";
    EXPECT_EQ(write.Header("Content-Type"), "multipart/form-data; boundary=------7e02362550dc4");
    EXPECT_EQ(
        write.Header("Authorization"),
        orca_test::PictureAuthorization(write, "/QuarnBox/Picture/Write", "multipart/form-data"));
    EXPECT_EQ(write.body, ExpectedForm(query.target.substr(prefix.size(), 36), "1797252916000",
                                       "tok-1", picture));
  }
}

TEST_F(PictureWireTest, BestNodeAnswers) {
  const std::string port = std::to_string(node_.port());
  const struct {
    const char* name;
    Reply best_node;
    const char* token;  // as sent in the form; nullptr: the upload fails
  } cases[] = {
      {"numeric port", BestNode(port, ",\"Token\":\"t\""), "t"},
      {"text port", BestNode("\"" + port + "\"", ",\"Token\":\"t2\""), "t2"},
      {"no token", BestNode(port, ""), ""},
      {"not JSON", JsonReply(200, "<BestNode/>"), nullptr},
      {"not 200", JsonReply(503, "{}"), nullptr},
  };
  node_.SetDefaultReply(JsonReply(200, "{\"PictureUrl\":\"/p.jpg\"}"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    gateway_.Enqueue(c.best_node);
    const size_t writes_before = node_.Requests().size();
    CPictureClient client(config_);
    std::string url;
    EXPECT_EQ(client.UploadPicture(url, "j", 1), c.token != nullptr);
    ASSERT_EQ(node_.Requests().size(), writes_before + (c.token != nullptr ? 1 : 0));
    if (c.token != nullptr) {
      EXPECT_THAT(node_.Requests().back().body,
                  ::testing::HasSubstr(std::string("name=\"Token\"\r\n\r\n") + c.token + "\r\n"));
    }
  }
}

TEST_F(PictureWireTest, Ipv6LiteralsAreBracketed) {
  orca_test::LogCapture logs;
  config_.ip = "::1";
  CPictureClient client(config_);
  std::string url;
  EXPECT_FALSE(client.UploadPicture(url, "j", 1));  // nothing listens on ::1 here
  EXPECT_TRUE(logs.Contains("send url[http://[::1]:" + std::to_string(gateway_.port()) +
                            "/QuarnBox/BestNode?SerialID="));
}

class PictureDownloadWireTest : public PictureWireTest {
 protected:
  bool Fetch(std::string& data) {
    CPictureClient client(config_);
    char* buffer = nullptr;
    uint32_t length = 0;
    if (!client.DownloadPicture(&buffer, length, "/pics/a.jpg")) {
      EXPECT_EQ(buffer, nullptr);
      return false;
    }
    EXPECT_EQ(buffer[length], '\0');
    data.assign(buffer, length);
    delete[] buffer;
    return true;
  }
};

TEST_F(PictureDownloadWireTest, PlainAndRedirected) {
  gateway_.Enqueue({200, {}, std::string("\xff\xd8pic", 5)});
  std::string data;
  ASSERT_TRUE(Fetch(data));
  EXPECT_EQ(data, std::string("\xff\xd8pic", 5));
  const CapturedRequest plain = gateway_.Requests().back();
  EXPECT_EQ(plain.target, "/pics/a.jpg");
  EXPECT_FALSE(plain.Header("Content-Type").has_value());
  EXPECT_EQ(plain.Header("Authorization"),
            orca_test::PictureAuthorization(plain, "/pics/a.jpg", ""));

  gateway_.Enqueue({302, {{"Location", node_.BaseUrl() + "/node/a.jpg"}}, ""});
  node_.Enqueue({200, {}, "moved"});
  ASSERT_TRUE(Fetch(data));
  EXPECT_EQ(data, "moved");
  const CapturedRequest moved = node_.Requests().back();
  EXPECT_EQ(moved.target, "/node/a.jpg");
  EXPECT_EQ(moved.Header("Host"), Host());
  EXPECT_EQ(moved.Header("Authorization"),
            orca_test::PictureAuthorization(moved, "/node/a.jpg", ""));
}

TEST_F(PictureDownloadWireTest, Failures) {
  const std::string node = "127.0.0.1:" + std::to_string(node_.port());
  node_.SetDefaultReply({302, {{"Location", "http://" + node + "/again"}}, ""});
  Reply short_body{200, {}, std::string(100, 'p')};
  short_body.action = Reply::Action::kCloseMidBody;
  short_body.cut_after = 10;
  Reply huge{200, {{"Content-Length", "4294967295"}}, ""};
  huge.framing = Reply::Framing::kAsGiven;
  huge.close_after = true;
  const struct {
    const char* name;
    Reply answer;
  } cases[] = {
      {"310 is no redirect", {310, {{"Location", "http://" + node + "/x"}}, ""}},
      {"404", {404, {}, "missing"}},
      {"wrong scheme", {302, {{"Location", "https://" + node + "/x"}}, ""}},
      {"no path", {301, {{"Location", "http://" + node}}, ""}},
      {"second redirect", {303, {{"Location", "http://" + node + "/x"}}, ""}},
      {"short body", short_body},
      {"too long for 32 bits", huge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    gateway_.Enqueue(c.answer);
    std::string data;
    EXPECT_FALSE(Fetch(data));
  }
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
