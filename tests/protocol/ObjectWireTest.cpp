// The object protocol on the wire: URLs, header fields and their order,
// signatures, bodies, and how every answer is judged.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CaptureServer.h"
#include "StorageClient/ObjectImpl.h"
#include "StorageClient/ObjectProtoClient.h"
#include "WireCheck.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::CapturedRequest;
using orca_test::CaptureServer;
using orca_test::Reply;
using orca_test::XmlReply;
using ::testing::ElementsAre;

// Two servers: `upload_` plays the configured address (upload port), and
// `node_` the download port and the data nodes, so that a request's Host
// can be told apart from the server it went to.
class ObjectWireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    upload_.Start();
    node_.Start();
    SStorageServerConfig config;
    config.ip = "127.0.0.1";
    config.upload_port = static_cast<uint32_t>(upload_.port());
    config.download_port = static_cast<uint32_t>(node_.port());
    config.pool_name = "p1";
    config.ak = orca_test::kAccessKey;
    config.sk = orca_test::kSecretKey;
    impl_ = std::make_shared<ObjectImpl>(config);
    ASSERT_TRUE(client_.Init(impl_));
  }

  std::string Host() const { return "127.0.0.1:" + std::to_string(upload_.port()); }
  std::string NodeLocation() const { return "127.0.0.1:" + std::to_string(node_.port()); }
  int32_t Code() const { return impl_->last_error_code; }
  const std::string& Message() const { return impl_->last_error_msg; }

  static CapturedRequest Only(const CaptureServer& server) {
    const std::vector<CapturedRequest> requests = server.Requests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? CapturedRequest() : requests.front();
  }

  CaptureServer upload_;
  CaptureServer node_;
  std::shared_ptr<ObjectImpl> impl_;
  CObjectProtoClient client_;
};

// --- Best node ---

TEST_F(ObjectWireTest, BestNodeRequest) {
  upload_.Enqueue(XmlReply(200, "<BestNodeInfo><Location>10.0.0.2:6001</Location></BestNodeInfo>"));
  std::string location;
  ASSERT_TRUE(client_.GetBestNode(location, "a.pfile"));
  EXPECT_EQ(location, "10.0.0.2:6001");

  const CapturedRequest request = Only(upload_);
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.target, "/p1/a.pfile?bestnode");
  EXPECT_THAT(orca_test::OrderedHeaderNames(request), ElementsAre("Host", "Date", "Authorization"));
  EXPECT_EQ(request.Header("Host"), Host());
  EXPECT_EQ(request.Header("Content-Type"), "application/xml; charset=utf-8");
  EXPECT_EQ(request.Header("Authorization"),
            orca_test::ObjectAuthorization(request, "/p1/a.pfile?bestnode"));
  EXPECT_EQ(request.body, "");
}

struct AnswerCase {
  const char* name;
  Reply reply;
  bool ok;
  int32_t code;
  const char* message;
};

TEST_F(ObjectWireTest, BestNodeAnswers) {
  const AnswerCase cases[] = {
      {"no Location", XmlReply(200, "<BestNodeInfo/>"), true, 0, ""},
      {"not XML", XmlReply(200, "node please"), false, 5,
       "get best node rsp msg invalid[node please]."},
      {"204", XmlReply(204, ""), false, 5, "get best node rsp status code[204]."},
      {"302", XmlReply(302, ""), false, 5, "get best node rsp status code[302]."},
      {"404", XmlReply(404, "<Error><Code>NoSuchBucket</Code></Error>"), false, 5,
       "get best node rsp status code[404]."},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    impl_->RecordError(0, "");
    upload_.Enqueue(c.reply);
    std::string location = "untouched";
    EXPECT_EQ(client_.GetBestNode(location, "k"), c.ok);
    EXPECT_EQ(location, c.ok ? "" : "untouched");
    EXPECT_EQ(Code(), c.code);
    EXPECT_EQ(Message(), c.message);
  }
}

TEST_F(ObjectWireTest, BestNodeTransportFailure) {
  Reply reset;
  reset.action = Reply::Action::kResetWithoutAnswer;
  upload_.SetDefaultReply(reset);
  std::string location = "untouched";
  EXPECT_FALSE(client_.GetBestNode(location, "k"));
  EXPECT_EQ(location, "untouched");
  EXPECT_EQ(Code(), 4);
  EXPECT_THAT(Message(), ::testing::MatchesRegex(
                             "Send get best node msg failed\\[[1-9][0-9]*:[1-9][0-9]*\\]\\."));
}

// --- Object upload ---

TEST_F(ObjectWireTest, UploadRequestGoesToTheNodeWithTheConfiguredHost) {
  const std::string data("object\0bytes", 12);
  std::string url;
  ASSERT_TRUE(client_.UploadObject(url, NodeLocation(), "k1.pfile", data.data(),
                                   static_cast<uint32_t>(data.size())));
  EXPECT_EQ(url, "/p1/k1.pfile");

  const CapturedRequest request = Only(node_);
  EXPECT_EQ(request.method, "PUT");
  EXPECT_EQ(request.target, "/p1/k1.pfile");
  EXPECT_THAT(orca_test::OrderedHeaderNames(request),
              ElementsAre("Host", "Date", "Content-MD5", "Authorization"));
  EXPECT_EQ(request.Header("Host"), Host());
  EXPECT_EQ(request.Header("Content-Type"), "binary/octet-stream");
  EXPECT_EQ(request.Header("Content-MD5"), orca_test::ContentMd5Of(data));
  EXPECT_EQ(request.Header("Authorization"),
            orca_test::ObjectAuthorization(request, "/p1/k1.pfile"));
  EXPECT_EQ(request.body, data);
}

TEST_F(ObjectWireTest, EmptyUploadCarriesTheDigestOfNothing) {
  std::string url;
  ASSERT_TRUE(client_.UploadObject(url, NodeLocation(), "empty.pfile", "", 0));
  const CapturedRequest request = Only(node_);
  EXPECT_EQ(request.Header("Content-Length"), "0");
  EXPECT_EQ(request.Header("Content-MD5"), "ZDQxZDhjZDk4ZjAwYjIwNGU5ODAwOTk4ZWNmODQyN2U=");
}

TEST_F(ObjectWireTest, UploadAnswers) {
  const AnswerCase cases[] = {
      {"201", XmlReply(201, ""), false, 5, "upload object rsp status code[201]."},
      {"204", XmlReply(204, ""), false, 5, "upload object rsp status code[204]."},
      {"500", XmlReply(500, "<Error><Code>InternalError</Code></Error>"), false, 5,
       "upload object rsp status code[500]."},
      {"500 NotEnoughSpace", XmlReply(500, "<Error><Code>NotEnoughSpace</Code></Error>"), false, 7,
       "upload object rsp status code[500]."},
      {"507 NotEnoughSpace", XmlReply(507, "NotEnoughSpace"), false, 5,
       "upload object rsp status code[507]."},
      {"503", XmlReply(503, "NotEnoughSpace"), false, 5, "upload object rsp status code[503]."},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    node_.Enqueue(c.reply);
    std::string url = "untouched";
    EXPECT_FALSE(client_.UploadObject(url, NodeLocation(), "k", "x", 1));
    EXPECT_EQ(url, "untouched");
    EXPECT_EQ(Code(), c.code);
    EXPECT_EQ(Message(), c.message);
  }
}

// --- Download to memory ---

struct Download {
  bool ok = false;
  std::string data;
  uint32_t length = 0;
};

class ObjectDownloadWireTest : public ObjectWireTest {
 protected:
  Download Fetch(const std::string& range, const std::string& url = "/p1/obj") {
    char* sentinel = reinterpret_cast<char*>(this);
    char* buffer = sentinel;
    uint32_t length = 12345;
    Download result;
    result.ok = client_.DownloadObject(&buffer, length, range, url);
    if (result.ok) {
      result.data.assign(buffer, length);
      EXPECT_EQ(buffer[length], '\0');
      result.length = length;
      delete[] buffer;
    } else {
      EXPECT_EQ(buffer, sentinel) << "buffer touched on failure";
      EXPECT_EQ(length, 12345u) << "length touched on failure";
    }
    return result;
  }
};

TEST_F(ObjectDownloadWireTest, WholeObjectAndRange) {
  node_.Enqueue({200, {}, std::string("bin\0ary", 7)});
  Download whole = Fetch("");
  ASSERT_TRUE(whole.ok);
  EXPECT_EQ(whole.data, std::string("bin\0ary", 7));

  node_.Enqueue({200, {}, "range"});
  ASSERT_TRUE(Fetch("100-199").ok);

  const std::vector<CapturedRequest> requests = node_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/p1/obj");
  EXPECT_THAT(orca_test::OrderedHeaderNames(requests[0]),
              ElementsAre("Host", "Date", "Authorization"));
  EXPECT_EQ(requests[0].Header("Host"), Host());
  EXPECT_FALSE(requests[0].Header("Content-Type").has_value());
  EXPECT_EQ(requests[0].Header("Authorization"),
            orca_test::ObjectAuthorization(requests[0], "/p1/obj"));
  EXPECT_THAT(orca_test::OrderedHeaderNames(requests[1]),
              ElementsAre("Host", "Date", "Authorization", "Range"));
  EXPECT_EQ(requests[1].Header("Range"), "bytes=100-199");
}

TEST_F(ObjectDownloadWireTest, EmptyObjectAndChunkedAnswer) {
  node_.Enqueue({200, {}, ""});
  Download empty = Fetch("");
  ASSERT_TRUE(empty.ok);
  EXPECT_EQ(empty.length, 0u);

  Reply chunked{200, {}, std::string(70000, 'c')};
  chunked.framing = Reply::Framing::kChunked;
  node_.Enqueue(chunked);
  Download whole = Fetch("");
  ASSERT_TRUE(whole.ok);
  EXPECT_EQ(whole.data, std::string(70000, 'c'));
}

TEST_F(ObjectDownloadWireTest, FailedAnswers) {
  Reply short_body{200, {}, std::string(1000, 's')};
  short_body.action = Reply::Action::kCloseMidBody;
  short_body.cut_after = 400;
  const AnswerCase cases[] = {
      {"206", XmlReply(206, "part"), false, 5, "DownloadObject rsp status code[206]."},
      {"404 NoSuchKey", XmlReply(404, "<Error><Code>NoSuchKey</Code></Error>"), false, 9,
       "NoSuchKey"},
      {"403 both", XmlReply(403, "NoSuchKey and NoSuchBucket"), false, 8, "NoSuchBucket"},
      {"500 empty", XmlReply(500, ""), false, 5, "DownloadObject rsp status code[500]."},
      {"short body", short_body, false, 5,
       "DownloadObject rsp body short[400 of 1000 bytes received]."},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    node_.Enqueue(c.reply);
    EXPECT_FALSE(Fetch("").ok);
    EXPECT_EQ(Code(), c.code);
    EXPECT_EQ(Message(), c.message);
  }
}

TEST_F(ObjectDownloadWireTest, TooLongForA32BitLengthIsRefused) {
  Reply huge{200, {{"Content-Length", "4294967295"}}, ""};
  huge.framing = Reply::Framing::kAsGiven;
  huge.close_after = true;
  node_.Enqueue(huge);
  EXPECT_FALSE(Fetch("").ok);
  EXPECT_EQ(Code(), 5);
  EXPECT_EQ(Message(),
            "DownloadObject rsp object size[4294967295] exceeds the 32-bit length of a memory "
            "download.");
}

TEST_F(ObjectDownloadWireTest, RedirectIsSignedAfreshForTheNewPath) {
  CaptureServer other;
  other.Start();
  node_.Enqueue({302, {{"Location", other.BaseUrl() + "/node/path?x=1"}}, ""});
  other.Enqueue({200, {}, "moved"});
  Download result = Fetch("5-9");
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.data, "moved");

  const CapturedRequest request = Only(other);
  EXPECT_EQ(request.target, "/node/path?x=1");
  EXPECT_EQ(request.Header("Host"), Host());
  EXPECT_EQ(request.Header("Range"), "bytes=5-9");
  EXPECT_EQ(request.Header("Authorization"),
            orca_test::ObjectAuthorization(request, "/node/path?x=1"));
}

TEST_F(ObjectDownloadWireTest, RedirectFailures) {
  CaptureServer other;
  other.Start();
  const std::string node = "127.0.0.1:" + std::to_string(other.port());
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
  other.SetDefaultReply({301, {{"Location", "http://" + node + "/again"}}, ""});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reply redirect{302, {}, ""};
    if (!c.location.empty()) redirect.headers = {{"Location", c.location}};
    node_.Enqueue(redirect);
    EXPECT_FALSE(Fetch("").ok);
    EXPECT_EQ(Code(), c.code);
    EXPECT_EQ(Message(), c.message);
  }
}

// --- Removal ---

TEST_F(ObjectWireTest, RemovalRequests) {
  upload_.Enqueue({200, {}, ""});
  upload_.Enqueue({200, {}, ""});
  ASSERT_TRUE(client_.RemoveFile("/p1/k1"));
  ASSERT_TRUE(client_.RemoveObjectFile("/p1/k1"));

  const std::vector<CapturedRequest> requests = upload_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const struct { const char* target; } expected[] = {{"/p1/k1"}, {"/p1/k1?deletefile"}};
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(expected[i].target);
    EXPECT_EQ(requests[i].method, "DELETE");
    EXPECT_EQ(requests[i].target, expected[i].target);
    // No Host field of the library's own: only the HTTP component's, from the URL.
    EXPECT_EQ(requests[i].Header("Host"), Host());
    EXPECT_THAT(orca_test::OrderedHeaderNames(requests[i]),
                ElementsAre("Host", "Date", "Authorization"));
    EXPECT_EQ(requests[i].Header("Content-Type"), "application/xml; charset=utf-8");
    EXPECT_EQ(requests[i].Header("Authorization"),
              orca_test::ObjectAuthorization(requests[i], expected[i].target));
  }
}

TEST_F(ObjectWireTest, RemovalAnswers) {
  const AnswerCase cases[] = {
      {"204", XmlReply(204, ""), false, 5, "remove object rsp status code[204]."},
      {"302", XmlReply(302, ""), false, 5, "remove object rsp status code[302]."},
      {"404", XmlReply(404, "NoSuchKey"), false, 5, "remove object rsp status code[404]."},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.name);
    upload_.Enqueue(c.reply);
    EXPECT_FALSE(client_.RemoveObjectFile("/p1/k?already=1"));
    EXPECT_EQ(Code(), c.code);
    EXPECT_EQ(Message(), c.message);
  }
  EXPECT_EQ(upload_.Requests().back().target, "/p1/k?already=1?deletefile");
}

// --- Errors from the server are quoted, capped ---

TEST_F(ObjectWireTest, HugeErrorBodyIsNotCopiedIntoTheErrorState) {
  // Below the largest document answer kept (proto::kMaxDocumentBytes); a
  // longer one is not kept at all.
  upload_.Enqueue(XmlReply(200, std::string(5 * 1024 * 1024, 'x')));
  std::string location;
  EXPECT_FALSE(client_.GetBestNode(location, "k"));
  EXPECT_EQ(Code(), 5);
  EXPECT_LT(Message().size(), 4200u);
  EXPECT_NE(Message().find("more bytes not shown"), std::string::npos);
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
