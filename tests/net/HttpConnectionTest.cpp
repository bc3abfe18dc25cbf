// Keep-alive: one connection for a run of requests, and a request whose
// pooled connection the server has closed goes out again on a fresh one.
#include <gtest/gtest.h>

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
using orca_test::Reply;

bool Put(const CaptureServer& server, const std::string& body, CHttpClientResponse& response) {
  auto request = orca_test::MakeRequest("PUT", server.BaseUrl() + "/pool/key");
  request.SetContentType("binary/octet-stream");
  request.SetData(body);
  HttpClient::Error error;
  return HttpClient::Send(request, response, error);
}

TEST(HttpConnectionTest, RunOfRequestsSharesOneConnection) {
  CaptureServer server;
  server.Start();
  server.SetDefaultReply({200, {}, "ok"});
  for (int i = 0; i < 50; ++i) {
    auto request = orca_test::MakeRequest(i % 2 == 0 ? "GET" : "POST",
                                          server.BaseUrl() + "/pool/key" + std::to_string(i));
    if (i % 2 == 1) {
      request.SetData("part " + std::to_string(i));
    }
    CHttpClientResponse response;
    HttpClient::Error error;
    ASSERT_TRUE(HttpClient::Send(request, response, error)) << i;
    ASSERT_EQ(response.GetBody(), "ok");
  }
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_EQ(server.Requests().size(), 50u);
}

TEST(HttpConnectionTest, ClosedPooledConnectionIsReplacedAndTheBodyResent) {
  Reply closes_after{200, {}, "first"};
  closes_after.close_after = true;
  Reply dropped;
  dropped.action = Reply::Action::kCloseWithoutAnswer;
  Reply reset;
  reset.action = Reply::Action::kResetWithoutAnswer;
  const struct {
    const char* name;
    std::vector<Reply> script;  // the first answers the warm-up request
    size_t requests_seen;       // by the server, resends included
  } cases[] = {
      {"closed after the previous answer", {closes_after}, 2},
      {"closed when the request arrives", {{200, {}, "first"}, dropped}, 3},
      {"reset when the request arrives", {{200, {}, "first"}, reset}, 3},
  };
  const std::string body = orca_test::PatternBytes(300000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CaptureServer server;
    server.Start();
    for (const Reply& reply : c.script) {
      server.Enqueue(reply);
    }
    server.SetDefaultReply({200, {}, "second"});
    CHttpClientResponse response;
    ASSERT_TRUE(Put(server, "warm-up", response));
    ASSERT_TRUE(Put(server, body, response));
    EXPECT_EQ(response.GetBody(), "second");
    EXPECT_EQ(server.ConnectionCount(), 2);
    const std::vector<CapturedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), c.requests_seen);
    for (size_t i = 1; i < requests.size(); ++i) {
      EXPECT_TRUE(requests[i].body == body) << "request " << i;
      EXPECT_EQ(requests[i].Header("Content-Length"), std::to_string(body.size()));
    }
  }
}

}  // namespace
