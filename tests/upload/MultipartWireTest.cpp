// The multipart requests and the part task on the wire, against the capture
// server: URLs, header order, signed resources, the completion document, the
// answer tables and the part task's attempts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CaptureServer.h"
#include "StorageClient/ObjectImpl.h"
#include "StorageClient/ObjectProtoClient.h"
#include "StorageClient/PartTaskRegistry.h"
#include "StorageClient/PartUploadTask.h"
#include "UploadTestUtil.h"
#include "WireCheck.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::CapturedRequest;
using orca_test::CompletedPart;
using orca_test::Reply;
using orca_test::XmlReply;
using ::testing::ElementsAre;

// `upload_` plays the configured address, `node_` the data node.
class MultipartWireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    upload_.Start();
    node_.Start();
    SStorageServerConfig config;
    config.ip = "127.0.0.1";
    config.upload_port = static_cast<uint32_t>(upload_.port());
    config.download_port = config.upload_port;
    config.pool_name = "p1";
    config.ak = orca_test::kAccessKey;
    config.sk = orca_test::kSecretKey;
    impl_ = std::make_shared<ObjectImpl>(config);
    client_ = std::make_shared<CObjectProtoClient>();
    ASSERT_TRUE(client_->Init(impl_));
  }

  std::string Node() const { return "127.0.0.1:" + std::to_string(node_.port()); }

  // Checks the frame of a signed request with a body.
  static void ExpectSignedWithBody(const CapturedRequest& request, const std::string& resource) {
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, resource);
    EXPECT_THAT(orca_test::OrderedHeaderNames(request),
                ElementsAre("Host", "Date", "Content-MD5", "Authorization"));
    EXPECT_EQ(request.Header("Content-MD5"), orca_test::ContentMd5Of(request.body));
    EXPECT_EQ(request.Header("Authorization"), orca_test::ObjectAuthorization(request, resource));
  }

  orca_test::CaptureServer upload_;
  orca_test::CaptureServer node_;
  std::shared_ptr<ObjectImpl> impl_;
  std::shared_ptr<CObjectProtoClient> client_;
};

TEST_F(MultipartWireTest, RequestsOnTheWire) {
  upload_.Enqueue(XmlReply(
      200,
      "<InitiateMultipartUploadResult><UploadId>U-7</UploadId></InitiateMultipartUploadResult>"));
  std::string task_id;
  ASSERT_TRUE(client_->CreatePartTask(task_id, "k.bin"));
  EXPECT_EQ(task_id, "U-7");
  ASSERT_TRUE(client_->UploadPartObject("k.bin", Node(), 12, task_id, "part\0bytes", 10));
  ASSERT_TRUE(client_->FinishPartTask(task_id, "k.bin", PartList{{12, {10, ""}}}));

  const std::vector<CapturedRequest> upload = upload_.Requests();
  ASSERT_EQ(upload.size(), 2u);
  EXPECT_EQ(upload[0].method, "POST");
  EXPECT_EQ(upload[0].target, "/p1/k.bin?uploads");
  EXPECT_THAT(orca_test::OrderedHeaderNames(upload[0]),
              ElementsAre("Host", "Date", "Authorization"));
  EXPECT_EQ(upload[0].Header("Content-Type"), std::nullopt);
  EXPECT_EQ(upload[0].Header("Authorization"),
            orca_test::ObjectAuthorization(upload[0], "/p1/k.bin?uploads"));
  EXPECT_EQ(upload[0].body, "");
  ExpectSignedWithBody(upload[1], "/p1/k.bin?upload_id=U-7");
  EXPECT_EQ(upload[1].Header("Content-Type"), std::nullopt);

  const std::vector<CapturedRequest> node = node_.Requests();
  ASSERT_EQ(node.size(), 1u);
  ExpectSignedWithBody(node[0], "/p1/k.bin?upload_id=U-7&part_number=12");
  EXPECT_EQ(node[0].Header("Host"), "127.0.0.1:" + std::to_string(upload_.port()));
  EXPECT_EQ(node[0].Header("Content-Type"), "binary/octet-stream");
  EXPECT_EQ(node[0].body, std::string("part\0bytes", 10));
}

TEST_F(MultipartWireTest, CompletionDocumentListsPartsByPosition) {
  struct Case {
    const char* name;
    PartList parts;
    const char* total;
    std::vector<CompletedPart> expected;
  };
  const Case cases[] = {
      {"one part", {{1, {5, ""}}}, "1", {{"1", "5", ""}}},
      {"inserted out of order",
       {{2, {1000, ""}}, {1, {2097152, ""}}},
       "2",
       {{"1", "2097152", ""}, {"2", "1000", ""}}},
      {"gap",
       {{1, {1, ""}}, {2, {2, ""}}, {4, {4, ""}}},
       "3",
       {{"1", "1", ""}, {"2", "2", ""}, {"4", "4", ""}}},
      {"etag text escaped", {{1, {1, "\"a&b\""}}}, "1", {{"1", "1", "\"a&b\""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = upload_.Requests().size();
    ASSERT_TRUE(client_->FinishPartTask("U1", "k", c.parts));
    const std::vector<CapturedRequest> requests = upload_.Requests();
    ASSERT_EQ(requests.size(), before + 1);
    std::string total;
    std::vector<CompletedPart> parts;
    ASSERT_TRUE(orca_test::ParseCompletion(requests.back().body, total, parts));
    EXPECT_EQ(total, c.total);
    EXPECT_EQ(parts, c.expected);
  }
}

TEST_F(MultipartWireTest, AnswersOfTheThreeRequests) {
  const std::function<bool(CObjectProtoClient&, const std::string&)> create =
      [](CObjectProtoClient& client, const std::string&) {
        std::string task_id;
        return client.CreatePartTask(task_id, "k");
      };
  const std::function<bool(CObjectProtoClient&, const std::string&)> part =
      [](CObjectProtoClient& client, const std::string& node) {
        return client.UploadPartObject("k", node, 1, "U1", "x", 1);
      };
  const std::function<bool(CObjectProtoClient&, const std::string&)> finish =
      [](CObjectProtoClient& client, const std::string&) {
        return client.FinishPartTask("U1", "k", PartList{{1, {1, ""}}});
      };
  Reply reset;
  reset.action = Reply::Action::kResetWithoutAnswer;
  const Reply no_space = XmlReply(500, "<Error><Code>NotEnoughSpace</Code></Error>");
  struct Case {
    const char* name;
    const std::function<bool(CObjectProtoClient&, const std::string&)>* request;
    Reply reply;
    int32_t code;
    std::string message;  // a prefix for transport failures
  };
  const Case cases[] = {
      {"create: not XML", &create, XmlReply(200, "<oops"), 5,
       "CreatePartTask rsp msg invalid[<oops]."},
      {"create: 404", &create, XmlReply(404, "gone"), 5, "CreatePartTask rsp status code[404]."},
      {"create: 500", &create, XmlReply(500, "busy"), 5, "CreatePartTask rsp status code[500]."},
      {"create: space", &create, no_space, 7, "upload object rsp status code[500]."},
      {"create: 507 with space text", &create, XmlReply(507, "<Code>NotEnoughSpace</Code>"), 5,
       "CreatePartTask rsp status code[507]."},
      {"create: reset", &create, reset, 4, "Send CreatePartTask msg failed["},
      {"part: 201", &part, XmlReply(201, ""), 5, "UploadPartObject rsp status code[201]."},
      {"part: space", &part, no_space, 7, "upload object rsp status code[500]."},
      {"part: reset", &part, reset, 4, "Send UploadPartObject msg failed["},
      {"finish: 403", &finish, XmlReply(403, "denied"), 5, "FinishPartTask rsp status code[403]."},
      {"finish: space", &finish, no_space, 7, "upload object rsp status code[500]."},
      {"finish: reset", &finish, reset, 4, "Send FinishPartTask msg failed["},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    impl_->RecordError(0, "");
    orca_test::CaptureServer& server = c.request == &part ? node_ : upload_;
    // A reset on a reused connection is retried by the HTTP component: reset every one.
    const bool transport = c.reply.action == Reply::Action::kResetWithoutAnswer;
    transport ? server.SetDefaultReply(c.reply) : server.Enqueue(c.reply);
    EXPECT_FALSE((*c.request)(*client_, Node()));
    server.SetDefaultReply(Reply());
    EXPECT_EQ(impl_->last_error_code, c.code);
    EXPECT_THAT(impl_->last_error_msg, ::testing::StartsWith(c.message));
  }
}

TEST_F(MultipartWireTest, InitiationWithoutUploadIdStillSucceeds) {
  upload_.Enqueue(XmlReply(200, "<InitiateMultipartUploadResult/>"));
  std::string task_id = "old";
  EXPECT_TRUE(client_->CreatePartTask(task_id, "k"));
  EXPECT_EQ(task_id, "");
}

// --- CPartUploadTask ---

// Registers one part of a one-part upload and makes its task.
std::unique_ptr<CPartUploadTask> NewTask(const std::string& task_id,
                                         const std::shared_ptr<CObjectProtoClient>& client,
                                         const std::string& node) {
  SPartTaskInfo info;
  info.task_id = task_id;
  info.size = 3;
  info.part_number = 1;
  info.part_count = 1;
  std::unique_ptr<char[]> data(new char[4]{'a', 'b', 'c', '\0'});
  info.data = data.get();
  CPartTaskRegistry::GetInstance().RegisterPart(task_id, info);
  return std::make_unique<CPartUploadTask>(info, std::move(data), client, "k", node);
}

TEST_F(MultipartWireTest, PartTaskMakesUpToThreeAttempts) {
  struct Case {
    const char* task_id;
    int failures;
    size_t attempts;
    uint32_t failed;  // as QueryUpload reports it: written only for a failed part
  };
  const Case cases[] = {
      {"task-first-fails", 1, 2, 9},
      {"task-two-fail", 2, 3, 9},
      {"task-all-fail", 3, 3, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.task_id);
    const size_t before = node_.Requests().size();
    for (int i = 0; i < c.failures; ++i) {
      node_.Enqueue(XmlReply(500, "flaky"));
    }
    EXPECT_TRUE(NewTask(c.task_id, client_, Node())->Run());
    EXPECT_EQ(node_.Requests().size() - before, c.attempts);
    uint32_t failed = 9;
    int32_t percent = -1;
    ASSERT_TRUE(CPartTaskRegistry::GetInstance().QueryUpload(failed, percent, c.task_id));
    EXPECT_EQ(failed, c.failed);
    EXPECT_EQ(percent, 100);
    CPartTaskRegistry::GetInstance().DropUpload(c.task_id);
  }
}

TEST_F(MultipartWireTest, PartTaskOutlivingItsUploadStillSendsButReportsFalse) {
  std::unique_ptr<CPartUploadTask> task = NewTask("task-late", client_, Node());
  CPartTaskRegistry::GetInstance().DropUpload("task-late");
  EXPECT_FALSE(task->Run());
  EXPECT_EQ(node_.Requests().size(), 1u);
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
