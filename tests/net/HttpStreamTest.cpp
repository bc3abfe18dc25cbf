// SendForBigRsp: pieces in order, one final call, errors on the final call.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "CaptureServer.h"
#include "NetTestUtil.h"
#include "net/HttpClient.h"

namespace {

using Orca::Net::CHttpClientResponse;
using Orca::Net::HttpClient;
using orca_test::CaptureServer;
using orca_test::Reply;

// Everything the callback saw.
struct Stream {
  std::vector<int> statuses;  // status at each call
  std::string first_content_length;
  std::string first_location;
  std::string body;
  int calls = 0;
  int final_calls = 0;
  bool data_on_final_call = false;
  bool call_after_final = false;
  HttpClient::Error final_error;
  bool returned = false;

  HttpClient::RecvCallback Callback() {
    return [this](const CHttpClientResponse& response, const char* data, uint32_t size,
                  HttpClient::Error error, bool last) {
      if (calls++ == 0) {
        response.GetHeaderField(first_content_length, "Content-Length");
        response.GetHeaderField(first_location, "Location");
      }
      call_after_final = call_after_final || final_calls > 0;
      statuses.push_back(response.GetStatusCode());
      if (last) {
        ++final_calls;
        final_error = error;
        data_on_final_call = data != nullptr || size != 0;
      } else if (data != nullptr) {
        body.append(data, size);
        EXPECT_EQ(error.minor, 0);
      }
    };
  }
};

Stream Fetch(const std::string& url) {
  Stream stream;
  auto request = orca_test::MakeRequest("GET", url);
  stream.returned = HttpClient::SendForBigRsp(request, stream.Callback());
  EXPECT_EQ(stream.final_calls, 1);
  EXPECT_FALSE(stream.data_on_final_call);
  EXPECT_FALSE(stream.call_after_final);
  return stream;
}

TEST(HttpStreamTest, CompleteAnswersArriveInOrder) {
  const std::string big = orca_test::PatternBytes(3 * 1024 * 1024 + 17);
  Reply chunked{200, {}, big, Reply::Framing::kChunked};
  chunked.chunk_size = 100000;
  const struct {
    const char* name;
    Reply reply;
    const char* content_length;
  } cases[] = {
      {"Content-Length", {200, {}, big}, "3145745"},
      {"chunked", chunked, ""},
      {"empty body", {200, {}, "", Reply::Framing::kChunked}, ""},
      {"Content-Length 0", {200, {}, ""}, "0"},
      {"redirect", {302, {{"Location", "http://node:8080/pool/key"}}, ""}, "0"},
  };
  CaptureServer server;
  server.Start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.Enqueue(c.reply);
    const Stream stream = Fetch(server.BaseUrl() + "/pool/key");
    EXPECT_TRUE(stream.returned);
    EXPECT_EQ(stream.final_error.major, 0);
    EXPECT_EQ(stream.final_error.minor, 0);
    EXPECT_TRUE(stream.body == c.reply.body);
    EXPECT_EQ(stream.statuses, std::vector<int>(stream.calls, c.reply.status));
    EXPECT_EQ(stream.first_content_length, c.content_length);
  }
  EXPECT_EQ(server.Requests().size(), std::size(cases));
}

TEST(HttpStreamTest, RedirectLocationIsReadableOnTheFirstCall) {
  CaptureServer server;
  server.Start();
  server.Enqueue({301, {{"Location", "https://node:443/pool/key"}}, "moved"});
  const Stream stream = Fetch(server.BaseUrl() + "/pool/key");
  EXPECT_EQ(stream.first_location, "https://node:443/pool/key");
  EXPECT_EQ(stream.statuses.front(), 301);
}

TEST(HttpStreamTest, BrokenTransferReachesTheFinalCall) {
  const std::string body = orca_test::PatternBytes(200000);
  const struct {
    const char* name;
    Reply::Framing framing;
    Reply::Action action;
  } cases[] = {
      {"closed mid-body", Reply::Framing::kContentLength, Reply::Action::kCloseMidBody},
      {"closed mid-chunk", Reply::Framing::kChunked, Reply::Action::kCloseMidBody},
      {"reset mid-body", Reply::Framing::kContentLength, Reply::Action::kResetMidBody},
  };
  CaptureServer server;
  server.Start();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reply reply{200, {}, body, c.framing, c.action};
    reply.cut_after = 70000;
    server.Enqueue(reply);
    const Stream stream = Fetch(server.BaseUrl() + "/pool/key");
    EXPECT_FALSE(stream.returned);
    EXPECT_NE(stream.final_error.major, 0);
    EXPECT_NE(stream.final_error.minor, 0);
    EXPECT_EQ(stream.statuses.front(), 200);
    EXPECT_LT(stream.body.size(), body.size());
  }
}

TEST(HttpStreamTest, RefusedConnectionStillEndsWithOneFinalCall) {
  int port;
  {
    CaptureServer closed;
    closed.Start();
    port = closed.port();
  }
  const Stream stream = Fetch("http://127.0.0.1:" + std::to_string(port) + "/pool/key");
  EXPECT_FALSE(stream.returned);
  EXPECT_EQ(stream.calls, 1);
  EXPECT_EQ(stream.statuses, std::vector<int>{0});
  EXPECT_EQ(stream.final_error.major, CURLE_COULDNT_CONNECT);
  EXPECT_EQ(stream.final_error.minor, ECONNREFUSED);
}

}  // namespace
