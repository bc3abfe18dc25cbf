// The object protocol of a running emulator, over HTTP and verified HTTPS:
// the checks on every request, uploads, ranges, multipart assembly, limits.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <tuple>
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
  Emulator emulator_{Options(/*https=*/GetParam())};
  ObjectSession session_{emulator_};
};

const RawRequest kQuery{"GET", "/pool1/a.pfile?bestnode", "", "application/xml; charset=utf-8"};
const RawRequest kPut{"PUT", "/pool1/k", "abc", "binary/octet-stream"};
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
      {"MD5 of other bytes", kPut, [](R r) { r.md5 = ContentMd5Of("x"); }, 400, "BadDigest"},
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
    const RawRequest put{"PUT", std::string("/pool1/") + key, "x", "binary/octet-stream"};
    EXPECT_EQ(Answer(session_.node, put), std::make_pair(400, std::string("InvalidURI"))) << key;
  }
  EXPECT_EQ(emulator_.Objects("pool1").size(), 1u) << "only the signed upload is stored";
  EXPECT_EQ(XmlText(session_.Get("none")->body, "Code"), "NoSuchKey");
  // A refused signature comes with the string to sign the service expected.
  RawRequest forged = kQuery;
  forged.sign = false;
  forged.headers = {{"Date", ClientDate()}, {"Authorization", "quarnbox ocs-test-ak1:AAAAAAAA="}};
  const auto refused = session_.upload.Send(forged);
  EXPECT_EQ(XmlText(refused->body, "Code"), "SignatureDoesNotMatch");
  EXPECT_EQ(XmlText(refused->body, "StringToSign"),
            StringToSign(forged, forged.headers.find("Date")->second));
}

TEST_P(ProtocolTest, StoresOnOneConnectionAndAnswersRangesWith200) {
  // Bodies of 1 MiB and more are read past the HTTP library; the next
  // request on the connection must still be read right.
  const std::map<std::string, std::string> stored = {
      {"0", ""}, {"dir/large", GeneratedBytes(12, 0, (size_t{3} << 20) + 17)}, {"r", "0123456789"}};
  for (const auto& [key, body] : stored) {
    ASSERT_EQ(session_.Put(key, body)->status, 200) << key;
  }
  EXPECT_EQ(emulator_.Connections().nodes[0], 1u) << "the uploads kept one connection";
  EXPECT_EQ(emulator_.Journal().at(1).body_md5, Md5HexOf(stored.at("dir/large")));
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
      {"dir/large", "", 200, 0, stored.at("dir/large").size()},
      {"0", "", 200, 0, 0},
      {"r", "bytes=2-3", 200, 2, 2},
      {"r", "bytes=7-", 200, 7, 3},
      {"r", "bytes=-4", 200, 6, 4},
      {"r", "bytes=-50", 200, 0, 10},
      {"r", "bytes=10-", 416, 0, 0},
      {"r", "bytes=5-1", 416, 0, 0},
      {"r", "bytes=0-1,5-6", 416, 0, 0},
      {"r", "bytes=99999999999999999999-", 416, 0, 0},
      {big, "bytes=4294967290-4294967305", 200, 4294967290, 16},
      {big, "bytes=-7", 200, size - 7, 7},
      {big, "bytes=" + std::to_string(size - 2) + "-99999999999", 200, size - 2, 2},
  };
  for (const Case& c : cases) {
    const auto result = session_.Get(c.key, c.range);
    ASSERT_TRUE(result) << c.range;
    EXPECT_EQ(result->status, c.status) << c.key << " " << c.range;
    if (c.status == 200) {
      EXPECT_TRUE(result->body == (c.key == big ? GeneratedBytes(77, c.first, c.length)
                                                : stored.at(c.key).substr(c.first, c.length)))
          << c.key << " " << c.range;
    }
  }
  EXPECT_EQ(XmlText(session_.Put(big, "x")->body, "Code"), "ReservedKey");
}

INSTANTIATE_TEST_SUITE_P(Schemes, ProtocolTest, ::testing::Bool(),
                         [](const auto& https) { return https.param ? "Https" : "Http"; });

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
  ASSERT_EQ(Answer(session.upload, RawRequest{"DELETE", "/pool1/b"}).first, 200);
  EXPECT_NE(session.Initiate("c"), "");
  const WireAnswer garbage = ExchangeOnWire(emulator.endpoints().upload, "NOT HTTP\r\n\r\n");
  EXPECT_EQ(garbage.status(), 400);
  EXPECT_NE(garbage.body.find("<Code>"), std::string::npos);
}

const std::string kParts[3] = {GeneratedBytes(1, 0, 3000), GeneratedBytes(2, 0, 1000), "third"};

TEST(MultipartTest, RefusesMismatchesThenAssemblesTheListedPartsAcrossARestart) {
  Emulator emulator;
  ObjectSession session(emulator);
  ASSERT_EQ(session.Put("kept", "kept bytes")->status, 200);
  const std::string id = session.Initiate("k");
  for (const uint32_t number : {3, 1, 2}) {
    EXPECT_EQ(session.PutPart("k", id, number, kParts[number - 1])->status, 200) << number;
  }
  const std::string one = ObjectSession::CompletionDocument({{1, 3000}});
  const auto edited = [&one](const char* from, const char* to) {
    return std::string(one).replace(one.find(from), std::strlen(from), to);
  };
  const std::tuple<std::string, std::string, const char*> cases[] = {
      // upload id, document, code
      {id, ObjectSession::CompletionDocument({{1, 3000}, {2, 999}}), "InvalidPart"},
      {id, ObjectSession::CompletionDocument({{1, 3000}, {4, 1}}), "InvalidPart"},
      {id, ObjectSession::CompletionDocument({{2, 1000}, {1, 3000}}), "InvalidPartOrder"},
      {id, edited("Num>1", "Num>2"), "MalformedXML"},
      {id, edited("<ETag/>", ""), "MalformedXML"},
      {id, edited(">1</PartNumber", ">01</PartNumber"), "MalformedXML"},
      {id, "<CompleteMultipartUpload>", "MalformedXML"},
      {std::string(32, 'f'), one, "NoSuchUpload"},
  };
  for (const auto& [upload_id, document, code] : cases) {
    const auto result = session.Complete("k", upload_id, document);
    EXPECT_EQ(result->status / 100, 4) << document;
    EXPECT_EQ(XmlText(result->body, "Code"), code) << document;
  }
  EXPECT_EQ(XmlText(session.PutPart("other", id, 1, "x")->body, "Code"), "NoSuchUpload");
  const std::string target = "/pool1/k?upload_id=" + id;
  EXPECT_EQ(session.node.Send(RawRequest{"POST", target + "&part_number=01", "x"})->status, 400);
  RawRequest unsigned_document{"POST", target, one};
  unsigned_document.content_md5 = false;
  EXPECT_EQ(XmlText(session.upload.Send(unsigned_document)->body, "Code"), "MissingContentMD5");
  EXPECT_EQ(emulator.Objects("pool1").size(), 1u) << "nothing is visible before completion";

  emulator.Restart();  // the open upload and its parts are kept
  ObjectSession again(emulator);
  EXPECT_EQ(again.Get("kept")->body, "kept bytes");
  const auto done = again.Complete("k", id, ObjectSession::CompletionDocument({{1, 3000}, {3, 5}}));
  ASSERT_EQ(done->status, 200) << done->body;
  EXPECT_EQ(again.Get("k")->body, kParts[0] + kParts[2]) << "part 2 is left out";
  EXPECT_EQ(emulator.OpenUploads(), 0u);
  EXPECT_EQ(again.PutPart("k", id, 4, "late")->status, 404) << "the upload is closed";
}

}  // namespace
}  // namespace orca_test
