// URL, request and response records, without a network.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "net/HttpClient.h"

namespace {

using Orca::Net::CHttpClientRequest;
using Orca::Net::CHttpClientResponse;
using Orca::Net::URL;

TEST(HttpUrlTest, PathAndQueryOnly) {
  const struct {
    const char* text;
    const char* path;
  } cases[] = {
      {"http://10.0.0.1:8080/pool/key.pfile?bestnode", "/pool/key.pfile?bestnode"},
      {"https://host:443/?version", "/?version"},
      {"http://host:80", "/"},
      {"http://host:80?uploads", "/?uploads"},
      {"/pool/key", "/pool/key"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(URL(c.text).ToStdString(false), c.path) << c.text;
    EXPECT_EQ(URL(c.text).ToStdString(true), c.text);
  }
}

TEST(HttpRequestTest, OwnedBodyIsMovedInNotCopied) {
  std::string body(32UL * 1024 * 1024, 'x');
  const auto original = reinterpret_cast<uintptr_t>(body.data());
  CHttpClientRequest request;
  request.SetData(std::move(body));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(request.GetData()), original);
  EXPECT_EQ(request.GetDataSize(), 32u * 1024 * 1024);
}

TEST(HttpRequestTest, CopiesAndMovesKeepTheirOwnBody) {
  CHttpClientRequest request;
  request.SetData("short");  // kept inline by the string: moves change its address
  CHttpClientRequest copy = request;
  CHttpClientRequest moved = std::move(request);
  EXPECT_EQ(std::string(copy.GetData(), copy.GetDataSize()), "short");
  EXPECT_EQ(std::string(moved.GetData(), moved.GetDataSize()), "short");
}

TEST(HttpRequestTest, BorrowedBodyReplacesOwnedOne) {
  static const char kBorrowed[] = "borrowed";
  CHttpClientRequest request;
  request.SetData("owned");
  request.SetDataRef(kBorrowed, 8);
  EXPECT_EQ(request.GetData(), kBorrowed);
  EXPECT_EQ(request.GetDataSize(), 8u);
}

TEST(HttpResponseRecordTest, HeaderLookupIgnoresCaseAndFirstWins) {
  CHttpClientResponse response;
  response.AddHeaderField("X-Object-Size", "10");
  response.AddHeaderField("x-object-size", "20");
  response.AddHeaderField("Location", "http://node/a");

  std::string value;
  EXPECT_TRUE(response.GetHeaderField(value, "X-OBJECT-SIZE"));
  EXPECT_EQ(value, "10");
  EXPECT_FALSE(response.GetHeaderField(value, "Content-Length"));
  EXPECT_EQ(value, "");

  std::map<std::string, std::string> all{{"stale", "entry"}};
  EXPECT_TRUE(response.GetAllHeaders(all));
  const std::map<std::string, std::string> expected{
      {"X-Object-Size", "10"}, {"x-object-size", "20"}, {"Location", "http://node/a"}};
  EXPECT_EQ(all, expected);
  EXPECT_FALSE(CHttpClientResponse().GetAllHeaders(all));
}

TEST(HttpResponseRecordTest, ContentLengthFieldOrBytesReceived) {
  const struct {
    const char* field;  // nullptr: no field
    bool has_length;
    uint64_t length;
  } cases[] = {
      {"1234", true, 1234}, {"0", true, 0},   {nullptr, false, 5},
      {"12a", false, 5},    {"-1", false, 5}, {"", false, 5},
  };
  for (const auto& c : cases) {
    CHttpClientResponse response;
    if (c.field != nullptr) {
      response.AddHeaderField("content-length", c.field);
    }
    response.AppendBody("hello", 5, UINT64_MAX);
    EXPECT_EQ(response.HasContentLength(), c.has_length) << (c.field ? c.field : "none");
    EXPECT_EQ(response.GetContentLength(), c.length) << (c.field ? c.field : "none");
  }
}

TEST(HttpResponseRecordTest, BodyKeptUpToLimitButAllCounted) {
  CHttpClientResponse response;
  response.AppendBody("abcdef", 6, 4);
  response.AppendBody("gh", 2, 4);
  EXPECT_EQ(response.GetBody(), "abcd");
  EXPECT_EQ(response.GetReceivedLength(), 8u);
  std::string copy;
  EXPECT_TRUE(response.GetResponseData(copy));
  EXPECT_EQ(copy, "abcd");

  response.Reset();
  EXPECT_EQ(response.GetBody(), "");
  EXPECT_EQ(response.GetReceivedLength(), 0u);
  EXPECT_EQ(response.GetStatusCode(), 0);
  EXPECT_TRUE(response.IsBodyComplete());
}

}  // namespace
