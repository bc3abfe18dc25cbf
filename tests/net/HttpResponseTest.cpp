// How Send reads answers: framing, header fields, short bodies and the caps.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "CaptureServer.h"
#include "NetTestUtil.h"
#include "net/HttpClient.h"

namespace {

using Orca::Net::CHttpClientResponse;
using Orca::Net::HttpClient;
using Orca::Net::kMaxErrorBodyKept;
using orca_test::CaptureServer;
using orca_test::Reply;

class HttpResponseTest : public ::testing::Test {
 protected:
  void SetUp() override { server_.Start(); }

  bool Get(CHttpClientResponse& response, HttpClient::Error& error,
           uint64_t max_body = UINT64_MAX) {
    auto request = orca_test::MakeRequest("GET", server_.BaseUrl() + "/pool/key");
    request.SetMaxResponseBody(max_body);
    return HttpClient::Send(request, response, error);
  }

  CaptureServer server_;
};

TEST_F(HttpResponseTest, BodyAndLengthWhateverTheFraming) {
  const std::string text = orca_test::PatternBytes(100000);
  Reply chunked{200, {}, text, Reply::Framing::kChunked};
  chunked.chunk_size = 777;
  Reply until_close{200, {}, text, Reply::Framing::kAsGiven};
  until_close.close_after = true;
  const struct {
    const char* name;
    Reply reply;
    bool has_length;
  } cases[] = {
      {"Content-Length", {200, {}, text}, true},
      {"chunked", chunked, false},
      {"Content-Length 0", {200, {}, ""}, true},
      {"chunked and empty", {200, {}, "", Reply::Framing::kChunked}, false},
      {"until close", until_close, false},
      {"error status", {500, {}, text}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Enqueue(c.reply);
    CHttpClientResponse response;
    HttpClient::Error error;
    ASSERT_TRUE(Get(response, error));
    EXPECT_EQ(error.major, 0);
    EXPECT_EQ(response.GetStatusCode(), c.reply.status);
    EXPECT_TRUE(response.GetBody() == c.reply.body);
    EXPECT_EQ(response.GetContentLength(), c.reply.body.size());
    EXPECT_EQ(response.HasContentLength(), c.has_length);
    EXPECT_TRUE(response.IsBodyComplete());
    EXPECT_FALSE(response.BodyLimitExceeded());
  }
}

TEST_F(HttpResponseTest, HeaderFieldsAsReceived) {
  server_.Enqueue(
      {200,
       {{"Object-Size", "42"}, {"X-Dup", "first"}, {"x-dup", "second"}, {"ETag", "\"abc\""}},
       "body"});
  CHttpClientResponse response;
  HttpClient::Error error;
  ASSERT_TRUE(Get(response, error));
  std::map<std::string, std::string> all;
  ASSERT_TRUE(response.GetAllHeaders(all));
  EXPECT_EQ(all.at("Object-Size"), "42");
  EXPECT_EQ(all.at("ETag"), "\"abc\"");
  EXPECT_EQ(all.at("Content-Length"), "4");
  std::string value;
  EXPECT_TRUE(response.GetHeaderField(value, "X-DUP"));
  EXPECT_EQ(value, "first");
  EXPECT_EQ(all.count("HTTP/1.1 200 OK"), 0u);
}

TEST_F(HttpResponseTest, BodyCutShortIsStillAnAnswer) {
  const struct {
    Reply::Framing framing;
    size_t cut_after;  // bytes on the wire for 400 body bytes
  } cases[] = {
      {Reply::Framing::kContentLength, 400},
      {Reply::Framing::kChunked, 4UL * (4 + 100 + 2)},  // "64\r\n", 100 bytes, "\r\n"
  };
  for (const auto& c : cases) {
    Reply reply{200, {}, std::string(1000, 'b'), c.framing, Reply::Action::kCloseMidBody};
    reply.chunk_size = 100;
    reply.cut_after = c.cut_after;
    server_.Enqueue(reply);
    CHttpClientResponse response;
    HttpClient::Error error;
    ASSERT_TRUE(Get(response, error)) << error.major;
    EXPECT_FALSE(response.IsBodyComplete());
    EXPECT_EQ(response.GetBody(), std::string(400, 'b'));
    EXPECT_EQ(response.GetReceivedLength(), 400u);
    EXPECT_EQ(error.major, CURLE_PARTIAL_FILE);
    EXPECT_NE(error.minor, 0);
  }
}

TEST_F(HttpResponseTest, TransportFailuresAreNoAnswer) {
  Reply reset_mid_body{200, {}, std::string(1000, 'b')};
  reset_mid_body.action = Reply::Action::kResetMidBody;
  reset_mid_body.cut_after = 400;
  Reply close_silently;
  close_silently.action = Reply::Action::kCloseWithoutAnswer;
  Reply reset_silently;
  reset_silently.action = Reply::Action::kResetWithoutAnswer;
  for (const Reply& reply : {reset_mid_body, close_silently, reset_silently}) {
    server_.Enqueue(reply);
    CHttpClientResponse response;
    HttpClient::Error error;
    EXPECT_FALSE(Get(response, error)) << static_cast<int>(reply.action);
    EXPECT_NE(error.major, 0);
    EXPECT_NE(error.minor, 0);
  }
}

TEST_F(HttpResponseTest, ErrorBodyIsKeptOnlyUpToTheCap) {
  const std::string huge(8 * kMaxErrorBodyKept, 'e');
  for (const auto framing : {Reply::Framing::kContentLength, Reply::Framing::kChunked}) {
    Reply reply{404, {}, huge, framing};
    reply.chunk_size = 64UL * 1024;
    server_.Enqueue(reply);
    CHttpClientResponse response;
    HttpClient::Error error;
    ASSERT_TRUE(Get(response, error, 100));  // the success limit does not apply to errors
    EXPECT_EQ(error.major, 0);
    EXPECT_EQ(response.GetStatusCode(), 404);
    EXPECT_EQ(response.GetBody().size(), kMaxErrorBodyKept);
    EXPECT_EQ(response.GetReceivedLength(), huge.size());
    EXPECT_TRUE(response.IsBodyComplete());
    EXPECT_FALSE(response.BodyLimitExceeded());
  }
  EXPECT_EQ(server_.ConnectionCount(), 1);  // read to the end, so the connection lives on
}

TEST_F(HttpResponseTest, SuccessBodyOverTheLimitEndsTheTransfer) {
  const struct {
    const char* name;
    size_t body_size;
    Reply::Framing framing;
    bool exceeded;
  } cases[] = {
      {"announced length over the limit", 1001, Reply::Framing::kContentLength, true},
      {"chunked body growing over the limit", 5000, Reply::Framing::kChunked, true},
      {"exactly at the limit", 1000, Reply::Framing::kContentLength, false},
      {"chunked, exactly at the limit", 1000, Reply::Framing::kChunked, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reply reply{200, {}, orca_test::PatternBytes(c.body_size), c.framing};
    reply.chunk_size = 300;
    server_.Enqueue(reply);
    CHttpClientResponse response;
    HttpClient::Error error;
    ASSERT_TRUE(Get(response, error, 1000));
    EXPECT_EQ(response.BodyLimitExceeded(), c.exceeded);
    EXPECT_LE(response.GetBody().size(), 1000u);
    if (!c.exceeded) {
      EXPECT_TRUE(response.GetBody() == reply.body);
    }
  }
  // The next exchange is unaffected by the ones cut short.
  CHttpClientResponse response;
  HttpClient::Error error;
  EXPECT_TRUE(Get(response, error));
  EXPECT_EQ(response.GetStatusCode(), 200);
}

TEST_F(HttpResponseTest, BodyOfAnnouncedLengthGoesToTheRequestsStorage) {
  const std::string text = orca_test::PatternBytes(300000);
  Reply cut_short{200,
                  {},
                  std::string(1000, 'b'),
                  Reply::Framing::kContentLength,
                  Reply::Action::kCloseMidBody};
  cut_short.cut_after = 400;
  const struct {
    const char* name;
    Reply reply;
    bool refuse;  // the storage answers null
    bool stored;  // the body went to the storage
    uint64_t received;
  } cases[] = {
      {"Content-Length", {200, {}, text}, false, true, text.size()},
      {"empty", {200, {}, ""}, false, true, 0},
      {"cut short", cut_short, false, true, 400},
      {"chunked: no length to ask for",
       {200, {}, text, Reply::Framing::kChunked},
       false,
       false,
       text.size()},
      {"error status", {404, {}, "NoSuchKey"}, false, false, 9},
      {"storage refused", {200, {}, text}, true, false, text.size()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Enqueue(c.reply);
    std::string storage;
    int calls = 0;
    auto request = orca_test::MakeRequest("GET", server_.BaseUrl() + "/pool/key");
    request.SetBodyStorage([&](uint64_t length) -> char* {
      ++calls;
      storage.assign(length, '\0');
      return c.refuse ? nullptr : storage.data();
    });
    CHttpClientResponse response;
    HttpClient::Error error;
    ASSERT_TRUE(HttpClient::Send(request, response, error));
    EXPECT_EQ(calls, c.stored || c.refuse ? 1 : 0);
    EXPECT_EQ(response.GetReceivedLength(), c.received);
    EXPECT_EQ(response.IsBodyComplete(), c.received == c.reply.body.size());
    if (c.stored) {
      EXPECT_TRUE(response.GetBody().empty());
      EXPECT_TRUE(storage.substr(0, c.received) == c.reply.body.substr(0, c.received));
    } else {
      EXPECT_TRUE(response.GetBody() == c.reply.body);
    }
  }
}

}  // namespace
