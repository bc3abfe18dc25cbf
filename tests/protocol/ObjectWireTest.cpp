// The object protocol on the wire: URLs, header fields and their order,
// signatures, bodies, and how every answer is judged.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "OrcaCloudStorage/StorageClient.h"
#include "WireCheck.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::CapturedRequest;
using orca_test::CaptureServer;
using orca_test::ObjectWireTest;
using orca_test::Reply;
using orca_test::XmlReply;
using Names = std::vector<std::string>;

struct AnswerCase {
  const char* name;
  Reply reply;
  int32_t code;  // 0: the call succeeds
  const char* message;
};

constexpr char kXmlType[] = "application/xml; charset=utf-8";

TEST_F(ObjectWireTest, BestNodeRequest) {
  upload_.Enqueue(XmlReply(200, "<BestNodeInfo><Location>10.0.0.2:6001</Location></BestNodeInfo>"));
  std::string location;
  ASSERT_TRUE(client_.GetBestNode(location, "a.pfile"));
  EXPECT_EQ(location, "10.0.0.2:6001");
  ASSERT_EQ(upload_.Requests().size(), 1u);
  ExpectFrame(upload_.Requests()[0], "GET", "/p1/a.pfile?bestnode",
              {"Host", "Date", "Authorization"}, kXmlType);
}

TEST_F(ObjectWireTest, BestNodeAnswers) {
  const AnswerCase cases[] = {
      {"no Location", XmlReply(200, "<BestNodeInfo/>"), 0, ""},
      {"not XML", XmlReply(200, "node please"), 5, "get best node rsp msg invalid[node please]."},
      {"204", XmlReply(204, ""), 5, "get best node rsp status code[204]."},
      {"404", XmlReply(404, "<Error><Code>NoSuchBucket</Code></Error>"), 5,
       "get best node rsp status code[404]."},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    impl_->RecordError(0, "");
    upload_.Enqueue(c.reply);
    std::string location = "untouched";
    EXPECT_EQ(client_.GetBestNode(location, "k"), c.code == 0);
    EXPECT_EQ(location, c.code == 0 ? "" : "untouched");
    ExpectError(c.code, c.message);
  }
}

TEST_F(ObjectWireTest, UploadRequestGoesToTheNodeWithTheConfiguredHost) {
  const std::string data("object\0bytes", 12);
  std::string url;
  ASSERT_TRUE(client_.UploadObject(url, NodeLocation(), "k1.pfile", data.data(),
                                   static_cast<uint32_t>(data.size())));
  EXPECT_EQ(url, "/p1/k1.pfile");
  ASSERT_EQ(node_.Requests().size(), 1u);
  const CapturedRequest request = node_.Requests()[0];
  ExpectFrame(request, "PUT", "/p1/k1.pfile", {"Host", "Date", "Content-MD5", "Authorization"},
              "binary/octet-stream");
  EXPECT_EQ(request.Header("Content-MD5"), orca_test::ContentMd5Of(data));
  EXPECT_EQ(request.body, data);
}

TEST_F(ObjectWireTest, UploadAnswers) {
  const AnswerCase cases[] = {
      {"201", XmlReply(201, ""), 5, "upload object rsp status code[201]."},
      {"204", XmlReply(204, ""), 5, "upload object rsp status code[204]."},
      {"500", XmlReply(500, "<Error><Code>InternalError</Code></Error>"), 5,
       "upload object rsp status code[500]."},
      {"500 NotEnoughSpace", XmlReply(500, "<Error><Code>NotEnoughSpace</Code></Error>"), 7,
       "upload object rsp status code[500]."},
      {"507 NotEnoughSpace", XmlReply(507, "NotEnoughSpace"), 5,
       "upload object rsp status code[507]."},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    node_.Enqueue(c.reply);
    std::string url = "untouched";
    EXPECT_FALSE(client_.UploadObject(url, NodeLocation(), "k", "x", 1));
    EXPECT_EQ(url, "untouched");
    ExpectError(c.code, c.message);
  }
}

// --- Download to memory ---

class ObjectDownloadWireTest : public ObjectWireTest {
 protected:
  // The object, or nothing when the download fails (which must leave the
  // out arguments alone).
  std::optional<std::string> Fetch(const std::string& range = "") {
    char* sentinel = reinterpret_cast<char*>(this);
    char* buffer = sentinel;
    uint32_t length = 12345;
    if (!client_.DownloadObject(&buffer, length, range, "/p1/obj")) {
      EXPECT_EQ(buffer, sentinel) << "buffer touched on failure";
      EXPECT_EQ(length, 12345u) << "length touched on failure";
      return std::nullopt;
    }
    EXPECT_EQ(buffer[length], '\0');
    std::string data(buffer, length);
    delete[] buffer;
    return data;
  }
};

TEST_F(ObjectDownloadWireTest, WholeObjectRangeAndChunkedAnswer) {
  node_.Enqueue({200, {}, std::string("bin\0ary", 7)});
  EXPECT_EQ(Fetch(), std::string("bin\0ary", 7));
  node_.Enqueue({200, {}, "range"});
  EXPECT_EQ(Fetch("100-199"), "range");
  Reply chunked{200, {}, std::string(70000, 'c')};
  chunked.framing = Reply::Framing::kChunked;
  node_.Enqueue(chunked);
  EXPECT_EQ(Fetch(), std::string(70000, 'c'));

  const std::vector<CapturedRequest> requests = node_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  ExpectFrame(requests[0], "GET", "/p1/obj", {"Host", "Date", "Authorization"}, std::nullopt);
  ExpectFrame(requests[1], "GET", "/p1/obj", {"Host", "Date", "Authorization", "Range"},
              std::nullopt);
  EXPECT_EQ(requests[1].Header("Range"), "bytes=100-199");
}

TEST_F(ObjectDownloadWireTest, FailedAnswers) {
  Reply short_body{200, {}, std::string(1000, 's')};
  short_body.action = Reply::Action::kCloseMidBody;
  short_body.cut_after = 400;
  Reply huge{200, {{"Content-Length", "4294967295"}}, ""};
  huge.framing = Reply::Framing::kAsGiven;
  huge.close_after = true;
  const AnswerCase cases[] = {
      {"206", XmlReply(206, "part"), 5, "DownloadObject rsp status code[206]."},
      {"404 NoSuchKey", XmlReply(404, "<Error><Code>NoSuchKey</Code></Error>"), 9, "NoSuchKey"},
      {"403 both", XmlReply(403, "NoSuchKey and NoSuchBucket"), 8, "NoSuchBucket"},
      {"500 empty", XmlReply(500, ""), 5, "DownloadObject rsp status code[500]."},
      {"short body", short_body, 5, "DownloadObject rsp body short[400 of 1000 bytes received]."},
      {"too long for 32 bits", huge, 5,
       "DownloadObject rsp object size[4294967295] exceeds the 32-bit length of a memory "
       "download."},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    node_.Enqueue(c.reply);
    EXPECT_FALSE(Fetch());
    ExpectError(c.code, c.message);
  }
}

TEST_F(ObjectDownloadWireTest, RedirectIsSignedAfreshForTheNewPath) {
  CaptureServer other;
  other.Start();
  node_.Enqueue({302, {{"Location", other.BaseUrl() + "/node/path?x=1"}}, ""});
  other.Enqueue({200, {}, "moved"});
  EXPECT_EQ(Fetch("5-9"), "moved");
  ASSERT_EQ(other.Requests().size(), 1u);
  const CapturedRequest request = other.Requests()[0];
  ExpectFrame(request, "GET", "/node/path?x=1", {"Host", "Date", "Authorization", "Range"},
              std::nullopt);
  EXPECT_EQ(request.Header("Range"), "bytes=5-9");
}

TEST_F(ObjectDownloadWireTest, RedirectFailures) {
  CaptureServer other;
  other.Start();
  const std::string node = "127.0.0.1:" + std::to_string(other.port());
  other.SetDefaultReply({301, {{"Location", "http://" + node + "/again"}}, ""});
  const struct {
    const char* name;
    std::string location;
    int32_t code;
    std::string message;
  } cases[] = {
      {"wrong scheme", "https://" + node + "/p", 6, "redirect url error[https://" + node + "/p]."},
      {"no path", "http://" + node, 6, "redirect url error[http://" + node + "]."},
      {"missing", "", 6, "redirect url error[]."},
      {"second redirect", "http://" + node + "/again", 5, "DownloadObject rsp status code[301]."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reply redirect{302, {}, ""};
    if (!c.location.empty()) redirect.headers = {{"Location", c.location}};
    node_.Enqueue(redirect);
    EXPECT_FALSE(Fetch());
    ExpectError(c.code, c.message);
  }
}

// --- Removal ---

TEST_F(ObjectWireTest, RemovalRequests) {
  ASSERT_TRUE(client_.RemoveFile("/p1/k1"));
  ASSERT_TRUE(client_.RemoveObjectFile("/p1/k1"));
  const std::vector<CapturedRequest> requests = upload_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  // No Host field of the library's own: only the HTTP component's, from the URL.
  ExpectFrame(requests[0], "DELETE", "/p1/k1", {"Host", "Date", "Authorization"}, kXmlType);
  ExpectFrame(requests[1], "DELETE", "/p1/k1?deletefile", {"Host", "Date", "Authorization"},
              kXmlType);
}

TEST_F(ObjectWireTest, RemovalAnswers) {
  const AnswerCase cases[] = {
      {"204", XmlReply(204, ""), 5, "remove object rsp status code[204]."},
      {"302", XmlReply(302, ""), 5, "remove object rsp status code[302]."},
      {"404", XmlReply(404, "NoSuchKey"), 5, "remove object rsp status code[404]."},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    upload_.Enqueue(c.reply);
    EXPECT_FALSE(client_.RemoveObjectFile("/p1/k?already=1"));
    ExpectError(c.code, c.message);
  }
  EXPECT_EQ(upload_.Requests().back().target, "/p1/k?already=1?deletefile");
}

TEST_F(ObjectWireTest, HugeErrorBodyIsNotCopiedIntoTheErrorState) {
  // Below the largest document answer kept (proto::kMaxDocumentBytes); a
  // longer one is not kept at all.
  upload_.Enqueue(XmlReply(200, std::string(5 * 1024 * 1024, 'x')));
  std::string location;
  EXPECT_FALSE(client_.GetBestNode(location, "k"));
  EXPECT_EQ(impl_->last_error_code, 5);
  EXPECT_LT(impl_->last_error_msg.size(), 4200u);
  EXPECT_NE(impl_->last_error_msg.find("more bytes not shown"), std::string::npos);
}

// --- Version: plain HTTP to the address record, signed with its keys ---

// Queries `upload_` from a client configured for another server over HTTPS;
// the code and message recorded on failure.
std::pair<int32_t, std::string> QueryVersion(int port, std::string& version) {
  SStorageServerConfig other;
  other.use_https = true;
  other.ip = "10.9.9.9";
  CObjectClient client(other);
  SStorageServerInfo info{"127.0.0.1", static_cast<uint32_t>(port), orca_test::kAccessKey,
                          orca_test::kSecretKey};
  std::pair<int32_t, std::string> error;
  if (!client.GetStorageVersion(version, info)) client.GetLastError(error.first, error.second);
  return error;
}

TEST_F(ObjectWireTest, VersionRequestUsesTheAddressRecord) {
  upload_.Enqueue(XmlReply(200, "<CloudVersion><version>3.2.1</version></CloudVersion>"));
  std::string version;
  ASSERT_EQ(QueryVersion(upload_.port(), version).first, 0);
  EXPECT_EQ(version, "3.2.1");
  ASSERT_EQ(upload_.Requests().size(), 1u);
  ExpectFrame(upload_.Requests()[0], "GET", "/?version", {"Host", "Date", "Authorization"},
              kXmlType, "?version");
}

TEST_F(ObjectWireTest, VersionAnswers) {
  const AnswerCase cases[] = {
      {"no version element", XmlReply(200, "<CloudVersion/>"), 0, ""},
      {"not XML", XmlReply(200, "v1"), 5, "get storage version rsp msg invalid[v1]."},
      {"403", XmlReply(403, "SignatureDoesNotMatch"), 5,
       "get storage version rsp status code[403]."},
      {"302",
       {302, {{"Location", "http://127.0.0.1:1/?version"}}, ""},
       5,
       "get storage version rsp status code[302]."},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    upload_.Enqueue(c.reply);
    std::string version = "kept";
    EXPECT_EQ(QueryVersion(upload_.port(), version),
              std::make_pair(c.code, std::string(c.message)));
    EXPECT_EQ(version, c.code == 0 ? "" : "kept");
  }
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
