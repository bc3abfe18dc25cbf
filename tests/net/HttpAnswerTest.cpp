// How answers are read: Send (framing, header fields, short bodies, caps) and
// SendForBigRsp (pieces in order, one final call that carries any transport
// error).
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "CaptureServer.h"
#include "NetTestUtil.h"

namespace {

using Orca::Net::CHttpClientResponse;
using Orca::Net::HttpClient;
using Orca::Net::kMaxErrorBodyKept;
using orca_test::CaptureServer;
using orca_test::Reply;
using Framing = Reply::Framing;
using Action = Reply::Action;

Reply Cut(Reply reply, Action action, size_t cut_after) {
  reply.action = action;
  reply.cut_after = cut_after;
  return reply;
}

Reply Chunked(std::string body, size_t chunk_size, int status = 200) {
  Reply reply{status, {}, std::move(body), Framing::kChunked};
  reply.chunk_size = chunk_size;
  return reply;
}

// What the SendForBigRsp callback saw.
struct Stream {
  bool returned = false;
  int final_calls = 0;
  std::vector<int> statuses;                         // at each call
  std::map<std::string, std::string> first_headers;  // as read on the first call
  std::string body;
  HttpClient::Error final_error;
};

Stream Fetch(const std::string& url) {
  Stream s;
  auto request = orca_test::MakeRequest("GET", url);
  s.returned =
      HttpClient::SendForBigRsp(request, [&s](const CHttpClientResponse& response, const char* data,
                                              uint32_t size, HttpClient::Error error, bool last) {
        EXPECT_EQ(s.final_calls, 0) << "a call after the final one";
        if (s.statuses.empty()) response.GetAllHeaders(s.first_headers);
        s.statuses.push_back(response.GetStatusCode());
        if (last) {
          ++s.final_calls;
          s.final_error = error;
          EXPECT_TRUE(data == nullptr && size == 0) << "data on the final call";
        } else if (data != nullptr) {
          s.body.append(data, size);
          EXPECT_EQ(error.minor, 0);
        }
      });
  EXPECT_EQ(s.final_calls, 1);
  return s;
}

class HttpAnswerTest : public ::testing::Test {
 protected:
  void SetUp() override { server_.Start(); }

  orca_test::Outcome Get(uint64_t max_body = UINT64_MAX) {
    auto request = orca_test::MakeRequest("GET", Url());
    request.SetMaxResponseBody(max_body);
    return orca_test::Send(request);
  }
  std::string Url() const { return server_.BaseUrl() + "/pool/key"; }

  CaptureServer server_;
};

// Each answer is read by Send, then streamed by SendForBigRsp.
TEST_F(HttpAnswerTest, BodyLengthAndHeadersWhateverTheFraming) {
  const std::string big = orca_test::PatternBytes(3 * 1024 * 1024 + 17);
  Reply until_close{200, {}, big, Framing::kAsGiven};
  until_close.close_after = true;
  const struct {
    const char* name;
    Reply reply;
    bool has_length;
  } cases[] = {
      {"Content-Length", {200, {}, big}, true},
      {"chunked", Chunked(big, 100000), false},
      {"Content-Length 0", {200, {}, ""}, true},
      {"chunked and empty", Chunked("", 777), false},
      {"until close", until_close, false},
      {"error status", {500, {}, "InternalError"}, true},
      {"redirect", {302, {{"Location", "http://node:8080/pool/key"}}, "moved"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Enqueue(c.reply);
    const auto got = Get();
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(got.error.major, 0);
    EXPECT_EQ(got.response.GetStatusCode(), c.reply.status);
    EXPECT_TRUE(got.response.GetBody() == c.reply.body);
    EXPECT_EQ(got.response.GetContentLength(), c.reply.body.size());
    EXPECT_EQ(got.response.HasContentLength(), c.has_length);
    EXPECT_TRUE(got.response.IsBodyComplete());
    EXPECT_FALSE(got.response.BodyLimitExceeded());

    server_.Enqueue(c.reply);
    const Stream stream = Fetch(Url());
    EXPECT_TRUE(stream.returned);
    EXPECT_EQ(stream.final_error.major, 0);
    EXPECT_EQ(stream.final_error.minor, 0);
    EXPECT_TRUE(stream.body == c.reply.body);
    EXPECT_EQ(stream.statuses, std::vector<int>(stream.statuses.size(), c.reply.status));
    std::map<std::string, std::string> headers;
    got.response.GetAllHeaders(headers);
    EXPECT_EQ(stream.first_headers, headers);
  }
  EXPECT_EQ(server_.Requests().size(), 2 * std::size(cases));  // the redirect was not followed
}

TEST_F(HttpAnswerTest, HeaderFieldsAsReceived) {
  server_.Enqueue({200, {{"X-Dup", "first"}, {"x-dup", "second"}}, "body"});
  const auto got = Get();
  std::string value = "stale";
  EXPECT_TRUE(got.response.GetHeaderField(value, "X-DUP"));  // any case, the first wins
  EXPECT_EQ(value, "first");
  EXPECT_FALSE(got.response.GetHeaderField(value, "Location"));
  EXPECT_EQ(value, "");
  std::map<std::string, std::string> all{{"stale", "entry"}};
  ASSERT_TRUE(got.response.GetAllHeaders(all));
  const std::map<std::string, std::string> expected{
      {"X-Dup", "first"}, {"x-dup", "second"}, {"Content-Length", "4"}};
  EXPECT_EQ(all, expected);  // no status line, no stale entry
  EXPECT_FALSE(CHttpClientResponse().GetAllHeaders(all));
}

// A transport failure reaches Send's error and the final SendForBigRsp call.
TEST_F(HttpAnswerTest, BrokenAnswers) {
  const Reply body{200, {}, std::string(1000, 'b')};
  const struct {
    const char* name;
    Reply reply;
    bool answered;  // Send returns true with the 400 bytes that came
  } cases[] = {
      {"closed mid-body", Cut(body, Action::kCloseMidBody, 400), true},
      // four chunks on the wire: "64\r\n", 100 bytes, "\r\n"
      {"closed mid-chunk", Cut(Chunked(body.body, 100), Action::kCloseMidBody, 424), true},
      {"reset mid-body", Cut(body, Action::kResetMidBody, 400), false},
      {"closed without answer", Cut(body, Action::kCloseWithoutAnswer, 0), false},
      {"reset without answer", Cut(body, Action::kResetWithoutAnswer, 0), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Enqueue(c.reply);
    const auto got = Get();
    EXPECT_EQ(got.ok, c.answered);
    EXPECT_NE(got.error.major, 0);
    EXPECT_NE(got.error.minor, 0);
    if (c.answered) {
      EXPECT_EQ(got.error.major, CURLE_PARTIAL_FILE);
      EXPECT_FALSE(got.response.IsBodyComplete());
      EXPECT_EQ(got.response.GetBody(), std::string(400, 'b'));
    }
    server_.Enqueue(c.reply);
    const Stream stream = Fetch(Url());
    EXPECT_FALSE(stream.returned);
    EXPECT_NE(stream.final_error.major, 0);
    EXPECT_NE(stream.final_error.minor, 0);
    EXPECT_LE(stream.body.size(), 400u);
    if (c.answered) {
      EXPECT_EQ(stream.body, std::string(400, 'b'));
    }
  }
}

// Error bodies are kept up to kMaxErrorBodyKept and read to the end; a
// successful body over SetMaxResponseBody ends the transfer.
TEST_F(HttpAnswerTest, BodyCaps) {
  const std::string huge(8 * kMaxErrorBodyKept, 'e');
  const struct {
    const char* name;
    Reply reply;
    bool exceeded;
  } cases[] = {
      {"error body over the cap", {404, {}, huge}, false},
      {"chunked error body over the cap", Chunked(huge, 64UL * 1024, 404), false},
      {"announced length over the limit", {200, {}, orca_test::PatternBytes(1001)}, true},
      {"chunked body growing over the limit", Chunked(orca_test::PatternBytes(5000), 300), true},
      {"exactly at the limit", {200, {}, orca_test::PatternBytes(1000)}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server_.Enqueue(c.reply);
    const auto got = Get(1000);  // the limit does not apply to errors
    const int connections = server_.ConnectionCount();
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(got.response.BodyLimitExceeded(), c.exceeded);
    EXPECT_LE(got.response.GetBody().size(), std::max<uint64_t>(1000, kMaxErrorBodyKept));
    if (!c.exceeded) {
      EXPECT_TRUE(got.response.GetBody() == c.reply.body.substr(0, kMaxErrorBodyKept));
      EXPECT_EQ(got.response.GetReceivedLength(), c.reply.body.size());
      EXPECT_TRUE(got.response.IsBodyComplete());
    }
    // The next exchange is unaffected; only a transfer cut short loses its connection.
    EXPECT_EQ(Get().response.GetStatusCode(), 200);
    EXPECT_EQ(server_.ConnectionCount(), connections + (c.exceeded ? 1 : 0));
  }
}

}  // namespace
