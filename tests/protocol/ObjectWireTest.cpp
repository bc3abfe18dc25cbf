// The object protocol on the wire: URLs, header fields and their order,
// signatures, bodies, and how every answer is judged. Redirect failures and
// short bodies are cells of the fault matrix (tests/faults).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "OrcaCloudStorage/StorageClient.h"
#include "PeakRss.h"
#include "WireCheck.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::CapturedRequest;
using orca_test::ObjectWireTest;
using orca_test::Reply;
using orca_test::XmlReply;

constexpr char kXmlType[] = "application/xml; charset=utf-8";
const std::vector<std::string> kSigned = {"Host", "Date", "Authorization"};

TEST_F(ObjectWireTest, BestNodeUploadAndRemovalRequests) {
  upload_.Enqueue(XmlReply(200, "<BestNodeInfo><Location>10.0.0.2:6001</Location></BestNodeInfo>"));
  std::string location;
  ASSERT_TRUE(Recorded(client_.GetBestNode(location, "a.pfile")));
  EXPECT_EQ(location, "10.0.0.2:6001");
  const std::string data("object\0bytes", 12);
  std::string url;
  ASSERT_TRUE(Recorded(client_.UploadObject(url, NodeLocation(), "k1.pfile", data.data(), 12)));
  EXPECT_EQ(url, "/p1/k1.pfile");
  ASSERT_TRUE(Recorded(client_.RemoveFile("/p1/k1")));
  ASSERT_TRUE(Recorded(client_.RemoveObjectFile("/p1/k1")));

  const std::vector<CapturedRequest> requests = upload_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  ExpectFrame(requests[0], "GET", "/p1/a.pfile?bestnode", kSigned, kXmlType);
  // No Host field of the library's own on removals: only the HTTP component's.
  ExpectFrame(requests[1], "DELETE", "/p1/k1", kSigned, kXmlType);
  ExpectFrame(requests[2], "DELETE", "/p1/k1?deletefile", kSigned, kXmlType);
  ASSERT_EQ(node_.Requests().size(), 1u);
  const CapturedRequest put = node_.Requests()[0];
  ExpectFrame(put, "PUT", "/p1/k1.pfile", {"Host", "Date", "Content-MD5", "Authorization"},
              "binary/octet-stream");
  EXPECT_EQ(put.Header("Content-MD5"), orca_test::ContentMd5Of(data));
  EXPECT_EQ(put.body, data);
}

TEST_F(ObjectWireTest, BestNodeUploadAndRemovalAnswers) {
  enum Call { kBestNode, kUpload, kRemove };
  const struct {
    Call call;
    int32_t code;  // 0: the call succeeds
    Reply reply;
    const char* message;
  } cases[] = {
      {kBestNode, 0, XmlReply(200, "<BestNodeInfo/>"), ""},
      {kBestNode, 5, XmlReply(200, "node please"), "get best node rsp msg invalid[node please]."},
      {kBestNode, 5, XmlReply(204, ""), "get best node rsp status code[204]."},
      {kBestNode, 5, XmlReply(404, "<Error><Code>NoSuchBucket</Code></Error>"),
       "get best node rsp status code[404]."},
      {kUpload, 5, XmlReply(201, ""), "upload object rsp status code[201]."},
      {kUpload, 5, XmlReply(204, ""), "upload object rsp status code[204]."},
      {kUpload, 5, XmlReply(500, "<Error><Code>InternalError</Code></Error>"),
       "upload object rsp status code[500]."},
      {kUpload, 7, XmlReply(500, "<Error><Code>NotEnoughSpace</Code></Error>"),
       "upload object rsp status code[500]."},
      {kUpload, 5, XmlReply(507, "NotEnoughSpace"), "upload object rsp status code[507]."},
      {kRemove, 5, XmlReply(204, ""), "remove object rsp status code[204]."},
      {kRemove, 5, XmlReply(302, ""), "remove object rsp status code[302]."},
      {kRemove, 5, XmlReply(404, "NoSuchKey"), "remove object rsp status code[404]."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    impl_->RecordError(0, "");
    (c.call == kUpload ? node_ : upload_).Enqueue(c.reply);
    std::string out = "untouched";
    const bool ok = c.call == kBestNode ? Recorded(client_.GetBestNode(out, "k"))
                    : c.call == kUpload
                        ? Recorded(client_.UploadObject(out, NodeLocation(), "k", "x", 1))
                        : Recorded(client_.RemoveObjectFile("/p1/k?already=1"));
    EXPECT_EQ(ok, c.code == 0);
    EXPECT_EQ(out, c.code == 0 ? "" : "untouched");
    ExpectError(c.code, c.message);
  }
  EXPECT_EQ(upload_.Requests().back().target, "/p1/k?already=1?deletefile");
}

// The request target goes out byte for byte as it is signed: neither
// percent-encoded nor cut at a "#".
TEST_F(ObjectWireTest, TargetGoesOutAsSigned) {
  for (const std::string key : {"caf\xc3\xa9.txt", "a#b.txt", "%41?.txt"}) {
    SCOPED_TRACE(key);
    std::string url;
    ASSERT_TRUE(Recorded(client_.UploadObject(url, NodeLocation(), key, "x", 1)));
    ExpectFrame(node_.Requests().back(), "PUT", "/p1/" + key,
                {"Host", "Date", "Content-MD5", "Authorization"}, "binary/octet-stream");
  }
}

// A node location or upload id from the server goes into later requests:
// one that would move or break them is refused (code 5) before they go out.
TEST_F(ObjectWireTest, ServerTextThatCannotStandInARequestIsRefused) {
  upload_.Enqueue(XmlReply(200, "<BestNodeInfo><Location>10.0.0.2:1/x</Location></BestNodeInfo>"));
  std::string out = "untouched";
  EXPECT_FALSE(Recorded(client_.GetBestNode(out, "k")));
  ExpectError(5, "get best node rsp location[10.0.0.2:1/x] holds byte 0x2f at offset 10.");
  upload_.Enqueue(XmlReply(
      200,
      "<InitiateMultipartUploadResult><UploadId>id 1</UploadId></InitiateMultipartUploadResult>"));
  EXPECT_FALSE(Recorded(client_.CreatePartTask(out, "k")));
  ExpectError(5, "CreatePartTask rsp upload id[id 1] holds byte 0x20 at offset 2.");
  EXPECT_EQ(out, "untouched");
  node_.Enqueue({302, {{"Location", upload_.BaseUrl() + "/a b"}}, ""});
  char* buffer = nullptr;
  uint32_t length = 0;
  EXPECT_FALSE(Recorded(client_.DownloadObject(&buffer, length, "", "/p1/obj")));
  ExpectError(6, "redirect url error[" + upload_.BaseUrl() + "/a b].");
  EXPECT_EQ(upload_.Requests().size(), 2u) << "the redirect went nowhere";
}

TEST_F(ObjectWireTest, HugeErrorBodyIsNotCopiedIntoTheErrorState) {
  // Below the largest document answer kept (proto::kMaxDocumentBytes); a
  // longer one is not kept at all.
  upload_.Enqueue(XmlReply(200, std::string(size_t{5} << 20, 'x')));
  std::string location;
  EXPECT_FALSE(Recorded(client_.GetBestNode(location, "k")));
  EXPECT_EQ(impl_->last_error_code, 5);
  EXPECT_LT(impl_->last_error_msg.size(), 4200u);
  EXPECT_NE(impl_->last_error_msg.find("more bytes not shown"), std::string::npos);
}

TEST_F(ObjectWireTest, DownloadToMemory) {
  // The object, or nothing when the download fails (leaving the out
  // arguments alone).
  const auto fetch = [this](const std::string& range) -> std::optional<std::string> {
    char* const sentinel = reinterpret_cast<char*>(this);
    char* buffer = sentinel;
    uint32_t length = 12345;
    if (!Recorded(client_.DownloadObject(&buffer, length, range, "/p1/obj"))) {
      EXPECT_TRUE(buffer == sentinel && length == 12345u) << "out arguments touched on failure";
      return std::nullopt;
    }
    EXPECT_EQ(buffer[length], '\0');
    std::string data(buffer, length);
    delete[] buffer;
    return data;
  };
  node_.Enqueue({200, {}, std::string("bin\0ary", 7)});
  EXPECT_EQ(fetch(""), std::string("bin\0ary", 7));
  Reply chunked{200, {}, std::string(70000, 'c')};
  chunked.framing = Reply::Framing::kChunked;
  node_.Enqueue(chunked);
  EXPECT_EQ(fetch(""), std::string(70000, 'c'));
  orca_test::CaptureServer other;
  other.Start();
  node_.Enqueue({302, {{"Location", other.BaseUrl() + "/node/path?x=1"}}, ""});
  other.Enqueue({200, {}, "moved"});
  EXPECT_EQ(fetch("5-9"), "moved");

  const std::vector<std::string> ranged = {"Host", "Date", "Authorization", "Range"};
  ExpectFrame(node_.Requests().at(0), "GET", "/p1/obj", kSigned, std::nullopt);
  ExpectFrame(node_.Requests().at(2), "GET", "/p1/obj", ranged, std::nullopt);
  // The redirect is signed afresh for its own path and keeps the range.
  ExpectFrame(other.Requests().at(0), "GET", "/node/path?x=1", ranged, std::nullopt);
  EXPECT_EQ(other.Requests().at(0).Header("Range"), "bytes=5-9");

  Reply huge{200, {{"Content-Length", "4294967295"}}, ""};
  huge.framing = Reply::Framing::kAsGiven;
  huge.close_after = true;
  const struct {
    Reply reply;
    int32_t code;
    const char* message;
  } failures[] = {
      {XmlReply(206, "part"), 5, "DownloadObject rsp status code[206]."},
      // A 2xx answer other than 200 keeps its body for classification.
      {XmlReply(206, "<Error><Code>NoSuchKey</Code></Error>"), 9, "NoSuchKey"},
      {XmlReply(404, "<Error><Code>NoSuchKey</Code></Error>"), 9, "NoSuchKey"},
      {XmlReply(403, "NoSuchKey and NoSuchBucket"), 8, "NoSuchBucket"},
      {XmlReply(500, ""), 5, "DownloadObject rsp status code[500]."},
      {huge, 5,
       "DownloadObject rsp object size[4294967295] exceeds the 32-bit length of a memory "
       "download."},
  };
  for (const auto& c : failures) {
    SCOPED_TRACE(c.message);
    node_.Enqueue(c.reply);
    EXPECT_FALSE(fetch(""));
    ExpectError(c.code, c.message);
  }
}

// A length the answer announces commits no memory: a 3-byte answer that
// announces 2,000,000,000 bytes fails as short without growing the peak
// resident set by anything like it.
TEST_F(ObjectWireTest, AnnouncedLengthCommitsNoMemoryBeforeTheBytes) {
  Reply liar{200, {{"Content-Length", "2000000000"}}, "abc"};
  liar.framing = Reply::Framing::kAsGiven;
  liar.close_after = true;
  node_.Enqueue(liar);
  EXPECT_EXIT(
      {
        const long before = orca_test::PeakRssKib();
        char* buffer = nullptr;
        uint32_t length = 0;
        const bool ok = Recorded(client_.DownloadObject(&buffer, length, "", "/p1/obj"));
        const long growth_kib = orca_test::PeakRssKib() - before;
        std::fprintf(stderr, "ok=%d code=%d peak growth %ld KiB\n", ok ? 1 : 0,
                     impl_->last_error_code, growth_kib);
        std::_Exit(!ok &&
                           impl_->last_error_msg ==
                               "DownloadObject rsp body short[3 of 2000000000 bytes received]." &&
                           before > 0 && growth_kib < 100L * 1024
                       ? 0
                       : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// --- Version: plain HTTP to the address record, signed with its keys ---

TEST_F(ObjectWireTest, VersionQuery) {
  SStorageServerConfig other;  // another server, over HTTPS
  other.use_https = true;
  other.ip = "10.9.9.9";
  CObjectClient client(other);
  const SStorageServerInfo info{"127.0.0.1", static_cast<uint32_t>(upload_.port()),
                                orca_test::kAccessKey, orca_test::kSecretKey};
  const struct {
    Reply reply;
    const char* version;  // nullptr: the query fails with code 5 and `message`
    const char* message;
  } cases[] = {
      {XmlReply(200, "<CloudVersion><version>3.2.1</version></CloudVersion>"), "3.2.1", ""},
      {XmlReply(200, "<CloudVersion/>"), "", ""},
      {XmlReply(200, "v1"), nullptr, "get storage version rsp msg invalid[v1]."},
      {XmlReply(403, "SignatureDoesNotMatch"), nullptr,
       "get storage version rsp status code[403]."},
      {{302, {{"Location", "http://127.0.0.1:1/?version"}}, ""},
       nullptr,
       "get storage version rsp status code[302]."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    upload_.Enqueue(c.reply);
    std::string version = "kept";
    EXPECT_EQ(client.GetStorageVersion(version, info), c.version != nullptr);
    EXPECT_EQ(version, c.version != nullptr ? c.version : "kept");
    int32_t code = 0;
    std::string message;
    client.GetLastError(code, message);
    EXPECT_EQ(std::make_pair(code, message),
              std::make_pair(c.version ? 0 : 5, std::string(c.message)));
  }
  ExpectFrame(upload_.Requests()[0], "GET", "/?version", kSigned, kXmlType, "?version");
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
