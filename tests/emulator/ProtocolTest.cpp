// The object protocol of a running emulator, over HTTP and over verified
// HTTPS: the checks on every request, uploads, downloads by range, metadata,
// redirects, removal and limits.
#include <gtest/gtest.h>

#include <utility>

#include "RawClient.h"

namespace orca_test {
namespace {

// The status and the error code of the answer to `request`.
std::pair<int, std::string> Answer(RawClient& client, const RawRequest& request) {
  const auto result = client.Send(request);
  return result ? std::make_pair(result->status, XmlText(result->body, "Code"))
                : std::make_pair(-1, httplib::to_string(result.error()));
}

class ProtocolTest : public ::testing::TestWithParam<bool> {
 protected:
  ProtocolTest() : emulator_(Https(GetParam())), session_(emulator_) {}
  static EmulatorOptions Https(bool https) {
    EmulatorOptions options;
    options.https = https;
    return options;
  }

  Emulator emulator_;
  ObjectSession session_;
};

const RawRequest kQuery("GET", "/pool1/a.pfile?bestnode", "", "application/xml; charset=utf-8");
const RawRequest kPut("PUT", "/pool1/k", "abc", "binary/octet-stream");
using R = RawRequest&;

TEST_P(ProtocolTest, ChecksEveryRequestAndNamesTheCause) {
  struct Case {
    const char* name;
    const RawRequest& base;  // kQuery to the upload port, kPut to a data node
    void (*change)(RawRequest&);
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"signed query", kQuery, [](R) {}, 200, ""},
      {"other pool's keys", kQuery, [](R r) { r.pool = 1; }, 403, "AccessDenied"},
      {"unknown ak", kQuery, [](R r) { r.ak = "nobody"; }, 403, "InvalidAccessKeyId"},
      {"unsigned", kQuery, [](R r) { r.sign = false; }, 400, "MissingDate"},
      {"zero-padded day", kQuery, [](R r) { r.date = "Fri, 04 Dec 2026 12:55:16 GMT"; }, 400,
       "InvalidDate"},
      {"wrong weekday", kQuery, [](R r) { r.date = "Thu,  4 Dec 2026 12:55:16 GMT"; }, 400,
       "InvalidDate"},
      {"an hour late", kQuery, [](R r) { r.date = ClientDate(-3600); }, 403,
       "RequestTimeTooSkewed"},
      {"type not signed", kQuery,
       [](R r) { r.headers.emplace("Content-Type", std::exchange(r.content_type, "")); }, 403,
       "SignatureDoesNotMatch"},
      {"picture layout", kQuery, [](R r) { r.picture = true; }, 403, "SignatureDoesNotMatch"},
      {"unknown pool", kQuery, [](R r) { r.target = "/nopool/a?bestnode"; }, 404, "NoSuchBucket"},
      {"signed upload", kPut, [](R) {}, 200, ""},
      {"no Content-MD5", kPut, [](R r) { r.content_md5 = false; }, 400, "MissingContentMD5"},
      {"MD5 of other bytes", kPut, [](R r) { r.md5 = ProtocolContentMd5("x"); }, 400, "BadDigest"},
      {"raw digest form", kPut, [](R r) { r.md5 = "kAFQmDzST7DWlj99KOF/cg=="; }, 400,
       "InvalidDigest"},
  };
  for (const Case& c : cases) {
    RawRequest request = c.base;
    c.change(request);
    RawClient& client = &c.base == &kPut ? session_.node : session_.upload;
    EXPECT_EQ(Answer(client, request), std::make_pair(c.status, std::string(c.code))) << c.name;
  }
  for (const char* key :
       {"../x", "a/../../x", "a/./b", "a//b", "a/", "%2e%2E/x", "a%00b", "a%2fb", "a\\b", ".."}) {
    const RawRequest put("PUT", std::string("/pool1/") + key, "x", "binary/octet-stream");
    EXPECT_EQ(Answer(session_.node, put), std::make_pair(400, std::string("InvalidURI"))) << key;
  }
  EXPECT_EQ(emulator_.Objects("pool1").size(), 1u) << "only the signed upload is stored";
}

TEST_P(ProtocolTest, SignatureMismatchShowsTheStringToSign) {
  RawRequest request = kQuery;
  const std::string date = ClientDate();
  request.sign = false;
  request.headers = {{"Date", date}, {"Authorization", "quarnbox ocs-test-ak1:AAAAAAAAAAAA="}};
  const auto result = session_.upload.Send(request);
  ASSERT_TRUE(result);
  EXPECT_EQ(XmlText(result->body, "Code"), "SignatureDoesNotMatch");
  EXPECT_EQ(XmlText(result->body, "StringToSign"), StringToSign(request, date));
}

TEST_P(ProtocolTest, StoresObjectsWholeOnOneConnection) {
  // Bodies of 1 MiB and more are read past the HTTP library; the next
  // request on the connection must still be read right.
  const std::pair<std::string, std::string> objects[] = {
      {"dir/large", GeneratedBytes(12, 0, (size_t{3} << 20) + 17)}, {"small", "after"}, {"0", ""}};
  for (const auto& [key, body] : objects) {
    ASSERT_EQ(session_.Put(key, body)->status, 200) << key;
  }
  for (const auto& [key, body] : objects) {
    EXPECT_TRUE(session_.Get(key)->body == body) << key;
    const auto metadata = session_.download.Get(ObjectSession::Target(key) + "?metadata");
    EXPECT_EQ(metadata->get_header_value("Object-Size"), std::to_string(body.size())) << key;
  }
  EXPECT_EQ(emulator_.Journal()[0].body_md5, Md5HexOf(objects[0].second));
  EXPECT_EQ(emulator_.Connections().nodes[0], 1u) << "the uploads kept one connection";
  emulator_.SetRedirect("always", 301);
  const auto moved = session_.Get("small");
  EXPECT_EQ(moved->status, 301);
  const std::string node = "://127.0.0.1:" + std::to_string(emulator_.endpoints().nodes[0]);
  EXPECT_EQ(moved->get_header_value("Location"),
            (GetParam() ? "https" : "http") + node + "/pool1/small");
}

TEST_P(ProtocolTest, AnswersRangesWith200AndTheRangeBytes) {
  const std::string stored = GeneratedBytes(1, 0, 1000);
  ASSERT_EQ(session_.Put("r", stored)->status, 200);
  const uint64_t size = (uint64_t{5} << 30) + 3;
  const std::string big = GeneratedKey(size, 77);
  struct Case {
    std::string key;
    std::string range;
    int status;
    uint64_t first;
    size_t length;
  };
  const Case cases[] = {
      {"r", "bytes=10-19", 200, 10, 10},
      {"r", "bytes=990-", 200, 990, 10},
      {"r", "bytes=-5", 200, 995, 5},
      {"r", "bytes=-5000", 200, 0, 1000},
      {"r", "bytes=0-1048576", 200, 0, 1000},
      {"r", "bytes=1000-", 416, 0, 0},
      {"r", "bytes=5-1", 416, 0, 0},
      {"r", "bytes=0-1,5-6", 416, 0, 0},
      {"r", "bytes=99999999999999999999-", 416, 0, 0},
      {big, "bytes=4294967290-4294967305", 200, 4294967290, 16},
      {big, "bytes=2147483640-2147483659", 200, 2147483640, 20},
      {big, "bytes=-7", 200, size - 7, 7},
      {big, "bytes=" + std::to_string(size - 2) + "-99999999999", 200, size - 2, 2},
      {GeneratedKey(300000, 77), "", 200, 0, 300000},
  };
  for (const Case& c : cases) {
    const auto result = session_.Get(c.key, c.range);
    ASSERT_TRUE(result) << c.range;
    EXPECT_EQ(result->status, c.status) << c.key << " " << c.range;
    if (c.status == 200) {
      EXPECT_TRUE(result->body == (c.key == "r" ? stored.substr(c.first, c.length)
                                                : GeneratedBytes(77, c.first, c.length)))
          << c.key << " " << c.range;
    }
  }
  const auto metadata = session_.download.Get(ObjectSession::Target(big) + "?metadata");
  EXPECT_EQ(metadata->get_header_value("Object-Size"), std::to_string(size));
  EXPECT_EQ(session_.download.Get("/pool2/" + big)->status, 403) << "access rules still hold";
  EXPECT_EQ(XmlText(session_.Put(big, "x")->body, "Code"), "ReservedKey");
}

TEST_P(ProtocolTest, RemovesObjects) {
  for (const char* query : {"", "?deletefile"}) {
    ASSERT_EQ(session_.Put("gone", "bytes")->status, 200);
    const RawRequest remove("DELETE", std::string("/pool1/gone") + query);
    EXPECT_EQ(Answer(session_.upload, remove), std::make_pair(200, std::string())) << query;
    EXPECT_EQ(Answer(session_.upload, remove).second, "NoSuchKey") << query;
    EXPECT_EQ(XmlText(session_.Get("gone")->body, "Code"), "NoSuchKey") << query;
  }
  EXPECT_EQ(XmlText(session_.download.Get("/nopool/k")->body, "Code"), "NoSuchBucket");
}

TEST(LimitsTest, RefusesWhatExceedsTheLimitsWithXml) {
  EmulatorOptions options;
  options.quota = 10000;
  options.extra_args = {"--max-body", "7000"};
  Emulator emulator(options);
  ObjectSession session(emulator);
  EXPECT_EQ(XmlText(session.Put("a", std::string(7001, 'a'))->body, "Code"), "EntityTooLarge");
  // The rest of the refused body must not be read as the next request.
  ASSERT_EQ(session.Put("a", std::string(6000, 'a'))->status, 200);
  const auto full = session.Put("b", std::string(6000, 'b'));
  EXPECT_EQ(full->status, 500);
  EXPECT_EQ(XmlText(full->body, "Code"), "NotEnoughSpace");
  ASSERT_EQ(session.Put("a", std::string(3000, 'a'))->status, 200) << "replacing frees space";
  ASSERT_EQ(session.Put("b", std::string(7000, 'b'))->status, 200);
  EXPECT_EQ(session.Initiate("c"), "") << "a full pool opens no upload";
  ASSERT_EQ(Answer(session.upload, RawRequest("DELETE", "/pool1/b")).first, 200);
  EXPECT_NE(session.Initiate("c"), "");
  const WireAnswer garbage = ExchangeOnWire(emulator.endpoints().upload, "NOT HTTP\r\n\r\n");
  EXPECT_EQ(garbage.status(), 400);
  EXPECT_NE(garbage.body.find("<Code>"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Schemes, ProtocolTest, ::testing::Bool(),
                         [](const auto& https) { return https.param ? "Https" : "Http"; });

}  // namespace
}  // namespace orca_test
