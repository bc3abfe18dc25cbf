// The picture gateway protocol on the wire: best node, the upload form byte
// for byte, downloads and their redirect.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "LogCapture.h"
#include "OrcaCloudStorage/StorageClient.h"
#include "PeakRss.h"
#include "WireCheck.h"
#include "base/Clock.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::CapturedRequest;
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

  // Method, target, the configured Host, content type and the picture
  // signature over the target with `signed_type`.
  void ExpectFrame(const CapturedRequest& request, const char* method, const std::string& target,
                   const std::optional<std::string>& type, const std::string& signed_type) const {
    EXPECT_EQ(request.method, method);
    EXPECT_EQ(request.target, target);
    EXPECT_EQ(request.Header("Host"), "127.0.0.1:" + std::to_string(gateway_.port()));
    EXPECT_EQ(request.Header("Content-Type"), type);
    EXPECT_EQ(request.Header("Authorization"),
              orca_test::PictureAuthorization(request, target, signed_type));
  }
  Reply BestNode(const std::string& port_json, const std::string& token_member) const {
    return JsonReply(
        200, "{\"GatewayIP\":\"127.0.0.1\",\"GatewayPort\":" + port_json + token_member + "}");
  }

  orca_test::CaptureServer gateway_;
  orca_test::CaptureServer node_;
  SStorageServerConfig config_;
};

// The best-node query, then the upload form byte for byte with the token of
// the answer; an answer without a usable node ends the upload before a write.
TEST_F(PictureWireTest, UploadFollowsTheBestNodeAnswer) {
  Base::SetClockForTesting([]() -> int64_t { return 1797252916; });
  const std::string port = std::to_string(node_.port());
  const std::string jpeg("\xff\xd8\xff\xe0 jpeg\0bytes\r\n--", 19);
  const struct {
    Reply best_node;
    std::string picture;
    const char* token;  // as sent in the form; nullptr: no write
  } cases[] = {
      {BestNode(port, ",\"Token\":\"tok-1\""), jpeg, "tok-1"},
      {BestNode(port, ",\"Token\":\"tok-1\""), "", "tok-1"},
      {BestNode("\"" + port + "\"", ",\"Token\":\"t2\""), "j", "t2"},  // port as a text
      {BestNode(port, ""), "j", ""},
      {JsonReply(200, "<BestNode/>"), "j", nullptr},
      {JsonReply(503, "{}"), "j", nullptr},
  };
  node_.SetDefaultReply(JsonReply(200, "{\"PictureUrl\":\"/pics/abc.jpg\"}"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.best_node.body);
    gateway_.Enqueue(c.best_node);
    const size_t writes = node_.Requests().size();
    CPictureClient client(config_);
    std::string url;
    const auto size = static_cast<uint32_t>(c.picture.size());
    ASSERT_EQ(client.UploadPicture(url, c.picture.data(), size), c.token != nullptr);
    const CapturedRequest query = gateway_.Requests().back();
    ASSERT_THAT(query.target, ::testing::MatchesRegex("/QuarnBox/BestNode\\?SerialID=[-0-9a-f]{36}"
                                                      "&PoolID=pics&Replication=0"));
    ExpectFrame(query, "GET", query.target, "text/json", "text/json");
    EXPECT_EQ(orca_test::OrderedHeaderNames(query),
              std::vector<std::string>({"Host", "Date", "Authorization"}));
    ASSERT_EQ(node_.Requests().size(), writes + (c.token != nullptr ? 1 : 0));
    if (c.token != nullptr) {
      EXPECT_EQ(url, "/pics/abc.jpg");
      const CapturedRequest write = node_.Requests().back();
      ExpectFrame(write, "POST", "/QuarnBox/Picture/Write",
                  "multipart/form-data; boundary=------7e02362550dc4", "multipart/form-data");
      EXPECT_EQ(write.body,
                ExpectedForm(query.target.substr(28, 36), "1797252916000", c.token, c.picture));
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

TEST_F(PictureWireTest, Download) {
  // The picture, or nothing when the download fails.
  const auto fetch = [this]() -> std::optional<std::string> {
    CPictureClient client(config_);
    char* buffer = nullptr;
    uint32_t length = 0;
    if (!client.DownloadPicture(&buffer, length, "/pics/a.jpg")) {
      EXPECT_EQ(buffer, nullptr);
      return std::nullopt;
    }
    std::string data(buffer, length + 1);  // with the terminating zero
    delete[] buffer;
    return data;
  };
  // Refused: 310 (no redirect), a Location without a path, a length too long
  // for 32 bits. Wrong schemes, second redirects and short bodies are cells
  // of the fault matrix.
  const std::string node = "http://127.0.0.1:" + std::to_string(node_.port());
  Reply huge{200, {{"Content-Length", "4294967295"}}, ""};
  huge.framing = Reply::Framing::kAsGiven;
  huge.close_after = true;
  for (const Reply& answer :
       {Reply{310, {{"Location", node + "/x"}}, ""}, Reply{301, {{"Location", node}}, ""}, huge}) {
    SCOPED_TRACE(answer.status);
    gateway_.Enqueue(answer);
    EXPECT_FALSE(fetch());
  }
  EXPECT_TRUE(node_.Requests().empty());

  gateway_.Enqueue({200, {}, std::string("\xff\xd8pic", 5)});
  EXPECT_EQ(fetch(), std::string("\xff\xd8pic\0", 6));
  gateway_.Enqueue({302, {{"Location", node_.BaseUrl() + "/node/a.jpg"}}, ""});
  node_.Enqueue({200, {}, "moved"});
  EXPECT_EQ(fetch(), std::string("moved\0", 6));
  // Each signed for its own path, the redirect with the configured Host.
  ExpectFrame(gateway_.Requests().back(), "GET", "/pics/a.jpg", std::nullopt, "");
  ExpectFrame(node_.Requests().at(0), "GET", "/node/a.jpg", std::nullopt, "");
}

// As for objects: an announced length alone commits no memory.
TEST_F(PictureWireTest, AnnouncedLengthCommitsNoMemoryBeforeTheBytes) {
  Reply liar{200, {{"Content-Length", "2000000000"}}, "abc"};
  liar.framing = Reply::Framing::kAsGiven;
  liar.close_after = true;
  gateway_.Enqueue(liar);
  EXPECT_EXIT(
      {
        CPictureClient client(config_);
        const long before = orca_test::PeakRssKib();
        char* buffer = nullptr;
        uint32_t length = 0;
        const bool ok = client.DownloadPicture(&buffer, length, "/pics/a.jpg");
        const long growth_kib = orca_test::PeakRssKib() - before;
        std::fprintf(stderr, "ok=%d peak growth %ld KiB\n", ok ? 1 : 0, growth_kib);
        std::_Exit(!ok && before > 0 && growth_kib < 100L * 1024 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
