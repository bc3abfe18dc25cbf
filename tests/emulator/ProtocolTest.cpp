// The object protocol of a running emulator: authentication, Content-MD5,
// uploads, downloads by range, metadata, removal, quotas and bad keys.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "RawClient.h"
#include "RawSocket.h"

namespace orca_test {
namespace {

class ProtocolTest : public ::testing::Test {
 protected:
  explicit ProtocolTest(EmulatorOptions options = {})
      : emulator_(std::move(options)), session_(emulator_) {}

  // Sends `request` to the upload port; the status and the error code.
  std::pair<int, std::string> Answer(RawClient& client, const RawRequest& request) {
    const auto result = client.Send(request);
    if (!result) {
      return {-1, httplib::to_string(result.error())};
    }
    return {result->status, XmlText(result->body, "Code")};
  }

  RawRequest BestNodeQuery() const {
    RawRequest request;
    request.target = "/pool1/a.pfile?bestnode";
    request.content_type = "application/xml; charset=utf-8";
    return request;
  }

  Emulator emulator_;
  ObjectSession session_;
};

TEST_F(ProtocolTest, BestNodeNamesTheDataNodesInTurn) {
  std::set<std::string> seen;
  for (int i = 0; i < 4; ++i) {
    const auto result = session_.upload.Send(BestNodeQuery());
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 200) << result->body;
    seen.insert(XmlText(result->body, "Location"));
  }
  const auto& nodes = emulator_.endpoints().nodes;
  EXPECT_EQ(seen, (std::set<std::string>{"127.0.0.1:" + std::to_string(nodes[0]),
                                         "127.0.0.1:" + std::to_string(nodes[1])}));
}

TEST_F(ProtocolTest, RefusesBadCredentialsWithTheCause) {
  struct Case {
    const char* name;
    void (*change)(RawRequest&);
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"accepted", [](RawRequest&) {}, 200, ""},
      {"other pool's keys", [](RawRequest& r) { r.pool = 1; }, 403, "AccessDenied"},
      {"unknown access key", [](RawRequest& r) { r.ak = "nobody"; }, 403, "InvalidAccessKeyId"},
      {"unsigned", [](RawRequest& r) { r.sign = false; }, 400, "MissingDate"},
      {"zero-padded day", [](RawRequest& r) { r.date = "Fri, 04 Dec 2026 12:55:16 GMT"; }, 400,
       "InvalidDate"},
      {"an hour late", [](RawRequest& r) { r.date = ClientDate(-3600); }, 403,
       "RequestTimeTooSkewed"},
      {"content type sent but not signed",
       [](RawRequest& r) {
         r.headers.emplace_back("Content-Type", r.content_type);
         r.content_type.clear();
       },
       403, "SignatureDoesNotMatch"},
      {"picture layout", [](RawRequest& r) { r.picture = true; }, 403, "SignatureDoesNotMatch"},
      {"unknown pool", [](RawRequest& r) { r.target = "/nopool/a.pfile?bestnode"; }, 404,
       "NoSuchBucket"},
  };
  for (const Case& c : cases) {
    RawRequest request = BestNodeQuery();
    c.change(request);
    EXPECT_EQ(Answer(session_.upload, request), std::make_pair(c.status, std::string(c.code)))
        << c.name;
  }
}

TEST_F(ProtocolTest, SignatureMismatchShowsTheStringToSign) {
  RawRequest request = BestNodeQuery();
  request.date = ClientDate();
  request.headers.emplace_back("Authorization",
                               "quarnbox ocs-test-ak1:AAAAAAAAAAAAAAAAAAAAAAAAAAA=");
  request.sign = false;
  request.headers.emplace_back("Date", request.date);
  const auto result = session_.upload.Send(request);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 403);
  EXPECT_EQ(XmlText(result->body, "Code"), "SignatureDoesNotMatch");
  EXPECT_EQ(XmlText(result->body, "StringToSign"), RawClient::StringToSign(request, request.date));
}

TEST_F(ProtocolTest, ChecksContentMd5OfUploads) {
  struct Case {
    const char* name;
    void (*change)(RawRequest&);
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"right", [](RawRequest&) {}, 200, ""},
      {"missing", [](RawRequest& r) { r.content_md5 = false; }, 400, "MissingContentMD5"},
      {"of other bytes", [](RawRequest& r) { r.md5 = ProtocolContentMd5("other"); }, 400,
       "BadDigest"},
      {"raw digest form", [](RawRequest& r) { r.md5 = "kAFQmDzST7DWlj99KOF/cg=="; }, 400,
       "InvalidDigest"},
  };
  for (const Case& c : cases) {
    RawRequest request;
    request.method = "PUT";
    request.target = "/pool1/md5.bin";
    request.body = "abc";
    request.content_type = "binary/octet-stream";
    c.change(request);
    EXPECT_EQ(Answer(session_.node, request), std::make_pair(c.status, std::string(c.code)))
        << c.name;
  }
  EXPECT_EQ(emulator_.Objects("pool1").size(), 1u) << "only the right upload is stored";
}

TEST_F(ProtocolTest, StoresAndServesObjects) {
  const std::string body = GeneratedBytes(5, 0, 100000);
  auto put = session_.Put("dir/k1.pfile", body);
  ASSERT_TRUE(put);
  ASSERT_EQ(put->status, 200) << put->body;
  const auto get = session_.Get("dir/k1.pfile");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 200);
  EXPECT_EQ(get->body, body);
  const auto metadata = session_.download.Get("/pool1/dir/k1.pfile?metadata");
  ASSERT_TRUE(metadata);
  EXPECT_EQ(metadata->status, 200);
  EXPECT_EQ(metadata->get_header_value("Object-Size"), "100000");
  // An object of zero bytes.
  put = session_.Put("empty", "");
  ASSERT_EQ(put->status, 200);
  EXPECT_EQ(session_.Get("empty")->body, "");
  EXPECT_EQ(session_.download.Get("/pool1/empty?metadata")->get_header_value("Object-Size"), "0");
}

TEST_F(ProtocolTest, StoresLargeBodiesIntactOnOneConnection) {
  const std::string large = GeneratedBytes(12, 0, (size_t{3} << 20) + 17);
  ASSERT_EQ(session_.Put("large", large)->status, 200);
  ASSERT_EQ(session_.Put("small", "after")->status, 200);
  EXPECT_TRUE(session_.Get("large")->body == large);
  EXPECT_EQ(session_.Get("small")->body, "after");
  const auto journal = emulator_.Journal();
  ASSERT_EQ(journal.size(), 4u);
  EXPECT_EQ(journal[0].body_md5, Md5HexOf(large));
  EXPECT_EQ(journal[1].body_length, 5u);
  EXPECT_EQ(emulator_.Connections().nodes[0], 1u) << "both uploads kept one connection";
}

TEST_F(ProtocolTest, AnswersRangesWith200AndTheRangeBytes) {
  const std::string body = GeneratedBytes(1, 0, 1000);
  ASSERT_EQ(session_.Put("r.bin", body)->status, 200);
  struct Case {
    const char* range;
    size_t first;
    size_t length;
  };
  const Case cases[] = {
      {"bytes=0-0", 0, 1},       {"bytes=10-19", 10, 10},  {"bytes=990-", 990, 10},
      {"bytes=-5", 995, 5},      {"bytes=-5000", 0, 1000}, {"bytes=0-1048576", 0, 1000},
      {"bytes=999-999", 999, 1},
  };
  for (const Case& c : cases) {
    const auto result = session_.Get("r.bin", c.range);
    ASSERT_TRUE(result) << c.range;
    EXPECT_EQ(result->status, 200) << c.range;
    EXPECT_EQ(result->body, body.substr(c.first, c.length)) << c.range;
  }
  for (const char* bad : {"bytes=1000-", "bytes=5-1", "bytes=0-1,5-6"}) {
    const auto result = session_.Get("r.bin", bad);
    ASSERT_TRUE(result) << bad;
    EXPECT_EQ(result->status, 416) << bad;
  }
}

TEST_F(ProtocolTest, ServesGeneratedObjectsPastFourGiB) {
  const uint64_t size = (uint64_t{5} << 30) + 3;
  const std::string key = GeneratedKey(size, 77);
  // Generated keys exist in every pool; access rules still hold.
  const auto metadata = session_.download.Get("/pool2/" + key + "?metadata");
  ASSERT_TRUE(metadata);
  EXPECT_EQ(metadata->status, 403);
  EXPECT_EQ(
      session_.download.Get(session_.Target(key) + "?metadata")->get_header_value("Object-Size"),
      std::to_string(size));
  struct Case {
    std::string range;
    uint64_t first;
    size_t length;
  };
  const Case cases[] = {
      {"bytes=4294967290-4294967305", 4294967290, 16},
      {"bytes=2147483640-2147483659", 2147483640, 20},
      {"bytes=-7", size - 7, 7},
      {"bytes=" + std::to_string(size - 2) + "-99999999999", size - 2, 2},
  };
  for (const Case& c : cases) {
    const auto result = session_.Get(key, c.range);
    ASSERT_TRUE(result) << c.range;
    EXPECT_EQ(result->status, 200) << c.range;
    EXPECT_EQ(result->body, GeneratedBytes(77, c.first, c.length)) << c.range;
  }
  const auto whole = session_.Get(GeneratedKey(300000, 3));
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->body, GeneratedBytes(3, 0, 300000));
  EXPECT_EQ(XmlText(session_.Put(GeneratedKey(10, 1), "x")->body, "Code"), "ReservedKey");
}

TEST_F(ProtocolTest, RemovesObjects) {
  for (const char* query : {"", "?deletefile"}) {
    ASSERT_EQ(session_.Put("gone", "bytes")->status, 200);
    RawRequest remove;
    remove.method = "DELETE";
    remove.target = std::string("/pool1/gone") + query;
    remove.content_type = "application/xml; charset=utf-8";
    EXPECT_EQ(Answer(session_.upload, remove), std::make_pair(200, std::string())) << query;
    EXPECT_EQ(Answer(session_.upload, remove), std::make_pair(404, std::string("NoSuchKey")))
        << query;
    const auto get = session_.Get("gone");
    EXPECT_EQ(get->status, 404);
    EXPECT_EQ(XmlText(get->body, "Code"), "NoSuchKey");
  }
  const auto missing_pool = session_.download.Get("/nopool/k");
  EXPECT_EQ(missing_pool->status, 404);
  EXPECT_EQ(XmlText(missing_pool->body, "Code"), "NoSuchBucket");
}

TEST_F(ProtocolTest, AnswersTheVersionQuery) {
  const auto result = session_.upload.Get("/?version");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200) << result->body;
  EXPECT_EQ(XmlText(result->body, "version"), "ocs-emulator 1.0");
}

TEST_F(ProtocolTest, ServesEachRequestOnItsOwnPortOnly) {
  RawRequest put;
  put.method = "PUT";
  put.target = "/pool1/k";
  put.body = "x";
  EXPECT_EQ(Answer(session_.upload, put).first, 400) << "uploads go to a data node";
  EXPECT_EQ(Answer(session_.download, put).first, 400);
  RawRequest best_node = BestNodeQuery();
  EXPECT_EQ(Answer(session_.download, best_node).first, 400);
  EXPECT_EQ(Answer(session_.node, best_node).first, 400);
}

TEST_F(ProtocolTest, RefusesKeysThatLeaveThePool) {
  const std::string outside = std::filesystem::path(emulator_.data_dir()).parent_path() / "escaped";
  for (const std::string target :
       {"/pool1/../escaped", "/pool1/../../escaped", "/pool1/a/./b", "/pool1/a//b", "/pool1/a/",
        "/pool1/%2e%2e/escaped", "/pool1/a%00b", "/pool1/..%2fescaped", "/../escaped"}) {
    RawRequest put;
    put.method = "PUT";
    put.target = target;
    put.body = "data";
    const auto [status, code] = Answer(session_.node, put);
    EXPECT_EQ(status, 400) << target;
    EXPECT_EQ(code, "InvalidURI") << target;
  }
  EXPECT_FALSE(std::filesystem::exists(outside));
  EXPECT_TRUE(emulator_.Objects("pool1").empty());
}

class QuotaTest : public ProtocolTest {
 protected:
  QuotaTest() : ProtocolTest(Quota()) {}
  static EmulatorOptions Quota() {
    EmulatorOptions options;
    options.quota = 10000;
    return options;
  }
};

TEST_F(QuotaTest, RefusesUploadsPastThePoolQuota) {
  ASSERT_EQ(session_.Put("a", std::string(6000, 'a'))->status, 200);
  const auto refused = session_.Put("b", std::string(6000, 'b'));
  EXPECT_EQ(refused->status, 500);
  EXPECT_NE(refused->body.find("NotEnoughSpace"), std::string::npos);
  ASSERT_EQ(session_.Put("a", std::string(3000, 'a'))->status, 200) << "replacing frees space";
  ASSERT_EQ(session_.Put("b", std::string(7000, 'b'))->status, 200);
  EXPECT_EQ(session_.Initiate("c"), "") << "a full pool opens no upload";
  RawRequest remove;
  remove.method = "DELETE";
  remove.target = "/pool1/b";
  ASSERT_EQ(Answer(session_.upload, remove).first, 200);
  EXPECT_NE(session_.Initiate("c"), "");
}

class LimitsTest : public ProtocolTest {
 protected:
  LimitsTest() : ProtocolTest(SmallBodies()) {}
  static EmulatorOptions SmallBodies() {
    EmulatorOptions options;
    options.extra_args = {"--max-body", "1000"};
    return options;
  }
};

TEST_F(LimitsTest, RefusesOversizeBodiesAndMalformedRequestsWithXml) {
  const auto too_large = session_.Put("big", std::string(1001, 'x'));
  ASSERT_TRUE(too_large);
  EXPECT_EQ(too_large->status, 413);
  EXPECT_EQ(XmlText(too_large->body, "Code"), "EntityTooLarge");
  EXPECT_EQ(session_.Put("fits", std::string(1000, 'x'))->status, 200)
      << "the connection is still usable";
  const WireAnswer garbage =
      ExchangeOnWire(emulator_.endpoints().upload, "NOT HTTP AT ALL\r\n\r\n");
  EXPECT_EQ(garbage.status(), 400);
  EXPECT_NE(garbage.body.find("<Code>"), std::string::npos);
  const WireAnswer no_range_unit =
      ExchangeOnWire(emulator_.endpoints().download,
                     "GET /pool1/fits HTTP/1.1\r\nRange: bytes=9-1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(no_range_unit.status(), 416);
  EXPECT_TRUE(emulator_.running());
}

class NoAuthTest : public ProtocolTest {
 protected:
  NoAuthTest() : ProtocolTest(NoAuth()) {}
  static EmulatorOptions NoAuth() {
    EmulatorOptions options;
    options.no_auth = true;
    return options;
  }
};

TEST_F(NoAuthTest, AcceptsUnsignedRequests) {
  RawRequest put;
  put.method = "PUT";
  put.target = "/pool1/plain";
  put.body = "plain";
  put.sign = false;
  put.content_md5 = false;
  EXPECT_EQ(Answer(session_.node, put).first, 200);
  RawRequest get;
  get.target = "/pool1/plain";
  get.sign = false;
  const auto result = session_.download.Send(get);
  EXPECT_EQ(result->body, "plain");
}

}  // namespace
}  // namespace orca_test
