// What the server receives (request line, exact header set and order, body)
// and how connections are reused.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CaptureServer.h"
#include "NetTestUtil.h"

namespace {

using Orca::Net::CHttpClientRequest;
using orca_test::CapturedRequest;
using orca_test::CaptureServer;
using orca_test::Reply;

class HttpWireTest : public ::testing::Test {
 protected:
  void SetUp() override { server_.Start(); }

  // Sends and returns what the server received.
  CapturedRequest Received(CHttpClientRequest& request) {
    const size_t before = server_.Requests().size();
    const auto got = orca_test::Send(request);
    EXPECT_TRUE(got.ok);
    EXPECT_EQ(got.error.major, 0);
    EXPECT_EQ(got.error.minor, 0);
    const std::vector<CapturedRequest> requests = server_.Requests();
    EXPECT_EQ(requests.size(), before + 1);
    return requests.empty() ? CapturedRequest() : requests.back();
  }

  CaptureServer server_;
};

TEST_F(HttpWireTest, HeaderSetAndOrderAreExactlyTheCallersOwn) {
  const std::string big = orca_test::PatternBytes(3UL * 1024 * 1024);
  const std::string binary = "binary/octet-stream";
  // Methods with a body always carry Content-Length; a big body is borrowed.
  const struct {
    const char* name;
    const char* method;
    std::optional<std::string> body;  // nullopt: SetData never called
    std::string content_type;
    bool host;  // a Host field of the caller's
  } cases[] = {
      {"GET without Host field", "GET", std::nullopt, "", false},
      {"DELETE with content type", "DELETE", std::nullopt, "application/xml", true},
      {"PUT without SetData", "PUT", std::nullopt, "", true},
      {"PUT with empty body", "PUT", std::string(), binary, true},
      {"POST with empty body", "POST", std::string(), "", true},
      {"POST with binary body", "POST", orca_test::PatternBytes(1000), "", true},
      {"PUT above the Expect threshold", "PUT", big, binary, true},
  };
  const std::string authority = "127.0.0.1:" + std::to_string(server_.port());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto request = orca_test::MakeRequest(c.method, server_.BaseUrl() + "/pool/key.pfile?x=1");
    if (c.host) request.AddHeaderField("Host", "10.0.0.1:8080");
    request.AddHeaderField("Date", "Tue, 05 Mar 2024 08:09:10 GMT");
    request.AddHeaderField("X-Empty", "");  // sent, not dropped
    request.AddHeaderField("Authorization", "quarnbox ak:c2ln");
    if (!c.content_type.empty()) request.SetContentType(c.content_type);
    const std::string body = c.body.value_or("");
    if (body.size() > 1024UL * 1024) {
      request.SetDataRef(body.data(), body.size());
    } else if (c.body) {
      request.SetData(body);
    }

    const CapturedRequest got = Received(request);
    EXPECT_EQ(got.method, c.method);
    EXPECT_EQ(got.target, "/pool/key.pfile?x=1");
    EXPECT_EQ(got.version, "HTTP/1.1");
    std::vector<std::pair<std::string, std::string>> expected = {
        {"Host", c.host ? "10.0.0.1:8080" : authority},
        {"Date", "Tue, 05 Mar 2024 08:09:10 GMT"},
        {"X-Empty", ""},
        {"Authorization", "quarnbox ak:c2ln"}};
    if (!c.content_type.empty()) expected.emplace_back("Content-Type", c.content_type);
    if (std::string(c.method) == "PUT" || std::string(c.method) == "POST") {
      expected.emplace_back("Content-Length", std::to_string(body.size()));
    }
    EXPECT_EQ(got.headers, expected);
    EXPECT_TRUE(got.body == body) << "body of " << got.body.size() << " bytes";
  }
}

// Proxy variables are ignored, and the pooled handle of a request refused
// before it went out is reused intact.
TEST_F(HttpWireTest, NeitherProxiesNorAnEarlierFailureAffectARequest) {
  orca_test::ScopedEnv http_proxy("http_proxy", "http://127.0.0.1:1");
  orca_test::ScopedEnv all_proxy("ALL_PROXY", "http://127.0.0.1:1");
  EXPECT_NE(orca_test::Get("http://:1/pool/key").error.major, 0);
  auto request = orca_test::MakeRequest("GET", server_.BaseUrl() + "/pool/key");
  EXPECT_EQ(Received(request).target, "/pool/key");
}

// Connections are kept alive and shared between threads taking turns.
TEST_F(HttpWireTest, RunOfRequestsFromThreadsInTurnSharesOneConnection) {
  for (int i = 0; i < 50; ++i) {
    auto request = orca_test::MakeRequest(i % 2 == 0 ? "GET" : "POST",
                                          server_.BaseUrl() + "/pool/key" + std::to_string(i));
    if (i % 2 == 1) request.SetData("part " + std::to_string(i));
    bool ok = false;
    std::thread([&] { ok = orca_test::Send(request).ok; }).join();
    ASSERT_TRUE(ok) << i;
  }
  EXPECT_EQ(server_.ConnectionCount(), 1);
  EXPECT_EQ(server_.Requests().size(), 50u);
}

// A request whose pooled connection the server closes just as the request
// goes out is sent again, body rewound, on a fresh connection. The server
// decides when it closes relative to the client's send, so every case is
// deterministic: on the warm-up's connection once the next request's first
// bytes arrive (the client is still sending a large body), or after reading
// the whole next request, with a FIN or a reset.
TEST(HttpConnectionTest, ClosedPooledConnectionIsReplacedAndTheBodyResent) {
  Reply closes_on_next{200, {}, "first"};
  closes_on_next.close_on_next_request = true;
  Reply dropped;
  dropped.action = Reply::Action::kCloseWithoutAnswer;
  Reply reset;
  reset.action = Reply::Action::kResetWithoutAnswer;
  const struct {
    const char* name;
    std::vector<Reply> script;  // the first answers the warm-up request
    size_t requests_seen;       // read whole by the server, resends included
  } cases[] = {
      {"closed after the answer", {closes_on_next}, 2},
      {"closed when the request arrives", {{200, {}, "first"}, dropped}, 3},
      {"reset when the request arrives", {{200, {}, "first"}, reset}, 3},
  };
  for (const size_t body_size : {size_t{16}, size_t{300000}}) {
    const std::string body = orca_test::PatternBytes(body_size);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", body of " + std::to_string(body_size) + " bytes");
      CaptureServer server;
      server.Start();
      for (const Reply& reply : c.script) server.Enqueue(reply);
      server.SetDefaultReply({200, {}, "second"});
      orca_test::Outcome got;
      for (const std::string& text : {std::string("warm-up"), body}) {
        auto request = orca_test::MakeRequest("PUT", server.BaseUrl() + "/pool/key");
        request.SetData(text);
        got = orca_test::Send(request);
        ASSERT_TRUE(got.ok) << got.error.major << ":" << got.error.minor;
      }
      EXPECT_EQ(got.response.GetBody(), "second");
      EXPECT_EQ(server.ConnectionCount(), 2);
      const std::vector<CapturedRequest> requests = server.Requests();
      ASSERT_EQ(requests.size(), c.requests_seen);
      for (size_t i = 1; i < requests.size(); ++i) {
        EXPECT_TRUE(requests[i].body == body) << "request " << i;
        EXPECT_EQ(requests[i].Header("Content-Length"), std::to_string(body.size()));
      }
    }
  }
}

// Only a reused connection earns a second try: a fresh one that fails is
// reported, and the request is not sent twice.
TEST(HttpConnectionTest, FailureOnAFreshConnectionIsReported) {
  CaptureServer server;
  server.Start();
  Reply dropped;
  dropped.action = Reply::Action::kCloseWithoutAnswer;
  server.Enqueue(dropped);
  auto request = orca_test::MakeRequest("PUT", server.BaseUrl() + "/pool/key");
  request.SetData("body");
  const auto got = orca_test::Send(request);
  EXPECT_FALSE(got.ok);
  EXPECT_EQ(got.error.major, CURLE_GOT_NOTHING);
  EXPECT_EQ(server.Requests().size(), 1u);
}

}  // namespace
