// Stalling servers: each exchange must give up within its time-out (checked
// only against a generous bound), and the time-out of the other phase must
// not be the one that applies. A server that never answers is a cell of the
// fault matrix for both Send and SendForBigRsp.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "CaptureServer.h"
#include "NetTestUtil.h"

namespace {

using Orca::Net::CHttpClientResponse;
using Orca::Net::HttpClient;
using orca_test::CaptureServer;
using orca_test::Reply;

constexpr int kShortMs = 500;
// The unused time-out is left at the default (60 s), far beyond this bound.
constexpr auto kGiveUpBound = std::chrono::seconds(20);

// Send, then SendForBigRsp, each against a server that stalls.
TEST(HttpTimeoutTest, SendAndStreamGiveUp) {
  const struct {
    const char* name;
    Reply::Action action;
    size_t body_size;  // request body
    int send_timeout_ms;
    int receive_timeout_ms;
  } cases[] = {
      {"no answer after the body", Reply::Action::kStallBeforeAnswer, 100000, 0, kShortMs},
      {"answer stops mid-body", Reply::Action::kStallMidBody, 0, 0, kShortMs},
      {"body not read", Reply::Action::kStallReadingBody, 64UL * 1024 * 1024, kShortMs, 0},
  };
  CaptureServer server;
  server.Start();
  for (const auto& c : cases) {
    for (const bool streamed : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (streamed ? ", SendForBigRsp" : ", Send"));
      Reply reply{200, {}, std::string(100000, 'r')};
      reply.action = c.action;
      reply.cut_after = 1000;
      server.Enqueue(reply);
      auto request =
          orca_test::MakeRequest(c.body_size > 0 ? "PUT" : "GET", server.BaseUrl() + "/pool/key");
      if (c.body_size > 0) request.SetData(std::string(c.body_size, 'q'));
      request.SetSendTimeout(c.send_timeout_ms);
      request.SetReceiveTimeout(c.receive_timeout_ms);

      HttpClient::Error error;
      const auto start = std::chrono::steady_clock::now();
      if (streamed) {
        EXPECT_FALSE(HttpClient::SendForBigRsp(
            request, [&error](const CHttpClientResponse&, const char*, uint32_t,
                              HttpClient::Error piece_error, bool last) {
              if (last) error = piece_error;
            }));
      } else {
        CHttpClientResponse response;
        EXPECT_FALSE(HttpClient::Send(request, response, error));
      }
      EXPECT_LT(std::chrono::steady_clock::now() - start, kGiveUpBound);
      EXPECT_EQ(error.major, CURLE_OPERATION_TIMEDOUT);
      EXPECT_NE(error.minor, 0);
    }
  }
}

}  // namespace
