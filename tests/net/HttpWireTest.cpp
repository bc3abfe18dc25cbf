// What the server receives: request line, exact header set and order, body.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "CaptureServer.h"
#include "NetTestUtil.h"
#include "net/HttpClient.h"

namespace {

using Orca::Net::CHttpClientResponse;
using Orca::Net::HttpClient;
using orca_test::CapturedRequest;
using orca_test::CaptureServer;

class HttpWireTest : public ::testing::Test {
 protected:
  void SetUp() override { server_.Start(); }

  // Sends and returns what the server received.
  CapturedRequest Exchange(Orca::Net::CHttpClientRequest& request) {
    const size_t before = server_.Requests().size();
    CHttpClientResponse response;
    HttpClient::Error error;
    EXPECT_TRUE(HttpClient::Send(request, response, error));
    EXPECT_EQ(error.major, 0);
    EXPECT_EQ(error.minor, 0);
    const std::vector<CapturedRequest> requests = server_.Requests();
    EXPECT_EQ(requests.size(), before + 1);
    return requests.empty() ? CapturedRequest() : requests.back();
  }

  CaptureServer server_;
};

TEST_F(HttpWireTest, HeaderSetAndOrderAreExactlyTheCallersOwn) {
  const std::string big = orca_test::PatternBytes(3UL * 1024 * 1024);
  const struct {
    const char* name;
    const char* method;
    std::optional<std::string> body;  // nullopt: SetData never called
    const char* content_type;
    std::optional<std::string> content_length;  // nullopt: no such field
  } cases[] = {
      {"GET without body", "GET", std::nullopt, "", std::nullopt},
      {"GET with content type", "GET", std::nullopt, "application/xml; charset=utf-8",
       std::nullopt},
      {"DELETE without body", "DELETE", std::nullopt, "application/xml; charset=utf-8",
       std::nullopt},
      {"PUT without SetData", "PUT", std::nullopt, "", "0"},
      {"PUT with empty body", "PUT", std::string(), "binary/octet-stream", "0"},
      {"POST with empty body", "POST", std::string(), "", "0"},
      {"POST with XML body", "POST", std::string("<a>&amp;</a>"), "", "12"},
      {"PUT with binary body", "PUT", orca_test::PatternBytes(1000), "binary/octet-stream", "1000"},
      {"PUT above the Expect threshold", "PUT", big, "binary/octet-stream",
       std::to_string(big.size())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto request = orca_test::MakeRequest(c.method, server_.BaseUrl() + "/pool/key.pfile?x=1");
    request.AddHeaderField("Host", "10.0.0.1:8080");
    request.AddHeaderField("Date", "Tue, 05 Mar 2024 08:09:10 GMT");
    request.AddHeaderField("Range", "bytes=0-1048576");
    request.AddHeaderField("Authorization", "quarnbox ak:c2ln");
    if (*c.content_type != '\0') {
      request.SetContentType(c.content_type);
    }
    if (c.body) {
      request.SetData(*c.body);
    }

    const CapturedRequest got = Exchange(request);
    EXPECT_EQ(got.method, c.method);
    EXPECT_EQ(got.target, "/pool/key.pfile?x=1");
    EXPECT_EQ(got.version, "HTTP/1.1");
    std::vector<std::pair<std::string, std::string>> expected = {
        {"Host", "10.0.0.1:8080"},
        {"Date", "Tue, 05 Mar 2024 08:09:10 GMT"},
        {"Range", "bytes=0-1048576"},
        {"Authorization", "quarnbox ak:c2ln"}};
    if (*c.content_type != '\0') {
      expected.emplace_back("Content-Type", c.content_type);
    }
    if (c.content_length) {
      expected.emplace_back("Content-Length", *c.content_length);
    }
    EXPECT_EQ(got.headers, expected);
    EXPECT_TRUE(got.body == c.body.value_or("")) << "body of " << got.body.size() << " bytes";
  }
}

TEST_F(HttpWireTest, WithoutHostFieldTheUrlAuthorityIsUsed) {
  auto request = orca_test::MakeRequest("GET", server_.BaseUrl() + "/?version");
  request.AddHeaderField("Date", "d");
  const CapturedRequest got = Exchange(request);
  EXPECT_EQ(got.HeaderNames(), (std::vector<std::string>{"Host", "Date"}));
  EXPECT_EQ(got.Header("Host"), "127.0.0.1:" + std::to_string(server_.port()));
}

TEST_F(HttpWireTest, EmptyValueIsSentNotDropped) {
  auto request = orca_test::MakeRequest("GET", server_.BaseUrl() + "/");
  request.AddHeaderField("X-Empty", "");
  request.AddHeaderField("X-After", "1");
  const CapturedRequest got = Exchange(request);
  EXPECT_EQ(got.Header("X-Empty"), "");
  EXPECT_EQ(got.HeaderNames(), (std::vector<std::string>{"Host", "X-Empty", "X-After"}));
}

TEST_F(HttpWireTest, BorrowedBodyGoesOutByteForByte) {
  const std::string body = orca_test::PatternBytes(5UL * 1024 * 1024 + 3);
  auto request = orca_test::MakeRequest("POST", server_.BaseUrl() + "/pool/k?upload_id=1");
  request.SetDataRef(body.data(), body.size());
  const CapturedRequest got = Exchange(request);
  EXPECT_TRUE(got.body == body);
  EXPECT_EQ(got.Header("Content-Length"), std::to_string(body.size()));
}

TEST_F(HttpWireTest, ProxyVariablesAreIgnored) {
  orca_test::ScopedEnv http_proxy("http_proxy", "http://127.0.0.1:1");
  orca_test::ScopedEnv all_proxy("ALL_PROXY", "http://127.0.0.1:1");
  auto request = orca_test::MakeRequest("GET", server_.BaseUrl() + "/pool/key");
  EXPECT_EQ(Exchange(request).target, "/pool/key");
}

TEST_F(HttpWireTest, AFailureBeforeSendingLeavesTheNextRequestIntact) {
  // The pooled handle of a request refused before it went out is reused.
  auto malformed = orca_test::MakeRequest("GET", "http://:1/pool/key");
  CHttpClientResponse response;
  HttpClient::Error error;
  EXPECT_FALSE(HttpClient::Send(malformed, response, error));
  EXPECT_NE(error.major, 0);
  auto request = orca_test::MakeRequest("GET", server_.BaseUrl() + "/pool/key");
  EXPECT_EQ(Exchange(request).target, "/pool/key");
}

TEST_F(HttpWireTest, RedirectIsReturnedNotFollowed) {
  server_.Enqueue(orca_test::Reply{302, {{"Location", server_.BaseUrl() + "/elsewhere"}}, ""});
  auto request = orca_test::MakeRequest("GET", server_.BaseUrl() + "/pool/key");
  CHttpClientResponse response;
  HttpClient::Error error;
  ASSERT_TRUE(HttpClient::Send(request, response, error));
  EXPECT_EQ(response.GetStatusCode(), 302);
  std::string location;
  EXPECT_TRUE(response.GetHeaderField(location, "location"));
  EXPECT_EQ(location, server_.BaseUrl() + "/elsewhere");
  EXPECT_EQ(server_.Requests().size(), 1u);
}

}  // namespace
