// Multipart uploads, and what survives a restart of the emulator.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "RawClient.h"
#include "RawSocket.h"

namespace orca_test {
namespace {

class MultipartTest : public ::testing::Test {
 protected:
  MultipartTest() : session_(emulator_) {}

  // Opens an upload of `key` holding parts 1 and 2 (`first` and `second`).
  std::string UploadTwoParts(const std::string& key) {
    std::string id = session_.Initiate(key);
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(session_.PutPart(key, id, 2, second_)->status, 200);  // out of order
    EXPECT_EQ(session_.PutPart(key, id, 1, first_)->status, 200);
    return id;
  }

  Emulator emulator_;
  ObjectSession session_;
  const std::string first_ = GeneratedBytes(1, 0, 3000);
  const std::string second_ = GeneratedBytes(2, 0, 1000);
};

TEST_F(MultipartTest, AssemblesPartsInNumberOrder) {
  const std::string id = UploadTwoParts("big.bin");
  EXPECT_EQ(emulator_.OpenUploads(), 1u);
  EXPECT_TRUE(emulator_.Objects("pool1").empty()) << "nothing is visible before completion";
  const auto done =
      session_.Complete("big.bin", id, ObjectSession::CompletionDocument({{1, 3000}, {2, 1000}}));
  ASSERT_TRUE(done);
  ASSERT_EQ(done->status, 200) << done->body;
  EXPECT_EQ(session_.Get("big.bin")->body, first_ + second_);
  EXPECT_EQ(emulator_.OpenUploads(), 0u);
  EXPECT_EQ(session_.PutPart("big.bin", id, 3, "late")->status, 404) << "the upload is closed";
}

TEST_F(MultipartTest, DropsPartsTheDocumentLeavesOut) {
  const std::string id = UploadTwoParts("one.bin");
  ASSERT_EQ(
      session_.Complete("one.bin", id, ObjectSession::CompletionDocument({{2, 1000}}))->status,
      200);
  EXPECT_EQ(session_.Get("one.bin")->body, second_);
}

TEST_F(MultipartTest, RefusesCompletionsThatDoNotMatchTheParts) {
  const std::string id = UploadTwoParts("k");
  struct Case {
    const char* name;
    std::string upload_id;
    std::string document;
    int status;
    const char* code;
  };
  const Case cases[] = {
      {"size differs", id, ObjectSession::CompletionDocument({{1, 3000}, {2, 999}}), 400,
       "InvalidPart"},
      {"part missing", id, ObjectSession::CompletionDocument({{1, 3000}, {3, 1000}}), 400,
       "InvalidPart"},
      {"descending", id, ObjectSession::CompletionDocument({{2, 1000}, {1, 3000}}), 400,
       "InvalidPartOrder"},
      {"not a document", id, "<CompleteMultipartUpload>", 400, "MalformedXML"},
      {"unknown upload", std::string(32, 'f'),
       ObjectSession::CompletionDocument({{1, 3000}, {2, 1000}}), 404, "NoSuchUpload"},
  };
  for (const Case& c : cases) {
    const auto result = session_.Complete("k", c.upload_id, c.document);
    ASSERT_TRUE(result) << c.name;
    EXPECT_EQ(result->status, c.status) << c.name;
    EXPECT_EQ(XmlText(result->body, "Code"), c.code) << c.name;
  }
  std::string wrong_total = ObjectSession::CompletionDocument({{1, 3000}, {2, 1000}});
  wrong_total.replace(wrong_total.find("<TotalPartNum>2"), 15, "<TotalPartNum>3");
  EXPECT_EQ(XmlText(session_.Complete("k", id, wrong_total)->body, "Code"), "MalformedXML");
  EXPECT_EQ(emulator_.OpenUploads(), 1u) << "failed completions leave the upload open";
  EXPECT_TRUE(emulator_.Objects("pool1").empty());
}

TEST_F(MultipartTest, PartsNeedAnOpenUploadOfTheSameObject) {
  const std::string id = session_.Initiate("k");
  EXPECT_EQ(XmlText(session_.PutPart("other", id, 1, "x")->body, "Code"), "NoSuchUpload");
  EXPECT_EQ(XmlText(session_.PutPart("k", std::string(32, '0'), 1, "x")->body, "Code"),
            "NoSuchUpload");
  RawRequest leading_zero;
  leading_zero.method = "POST";
  leading_zero.target = "/pool1/k?upload_id=" + id + "&part_number=01";
  leading_zero.body = "x";
  EXPECT_EQ(session_.node.Send(leading_zero)->status, 400);
  RawRequest unsigned_document;
  unsigned_document.method = "POST";
  unsigned_document.target = "/pool1/k?upload_id=" + id;
  unsigned_document.body = ObjectSession::CompletionDocument({{1, 1}});
  unsigned_document.content_md5 = false;
  EXPECT_EQ(XmlText(session_.upload.Send(unsigned_document)->body, "Code"), "MissingContentMD5");
}

TEST_F(MultipartTest, ObjectsUploadsAndPicturesSurviveARestart) {
  ASSERT_EQ(session_.Put("kept", "kept bytes")->status, 200);
  const std::string id = session_.Initiate("later");
  ASSERT_EQ(session_.PutPart("later", id, 1, first_)->status, 200);
  emulator_.Restart();
  ObjectSession again(emulator_);
  EXPECT_EQ(again.Get("kept")->body, "kept bytes");
  ASSERT_EQ(again.PutPart("later", id, 2, second_)->status, 200);
  ASSERT_EQ(again.Complete("later", id, ObjectSession::CompletionDocument({{1, 3000}, {2, 1000}}))
                ->status,
            200);
  EXPECT_EQ(again.Get("later")->body, first_ + second_);
}

TEST_F(MultipartTest, AnInterruptedUploadLeavesNothing) {
  RawRequest put;
  put.method = "PUT";
  put.target = "/pool1/cut";
  put.body = std::string(1 << 20, 'x');
  put.content_type = "binary/octet-stream";
  const std::string date = ClientDate();
  const EmulatorPool& pool = Emulator::pool();
  const std::string head =
      "PUT /pool1/cut HTTP/1.1\r\nHost: 127.0.0.1\r\n"
      "Content-Type: binary/octet-stream\r\nDate: " +
      date + "\r\nContent-MD5: " + ProtocolContentMd5(put.body) + "\r\nAuthorization: quarnbox " +
      pool.ak + ":" + Sign(pool.sk, RawClient::StringToSign(put, date)) + "\r\n";
  AbandonUpload(emulator_.endpoints().nodes[0], head, put.body.size(), 70000);
  // Wait (bounded) until the emulator has given up on the body.
  for (int i = 0; i < 500 && emulator_.Journal().empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const auto journal = emulator_.Journal();
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].status, 400);
  EXPECT_EQ(journal[0].body_md5, "") << "the body never arrived whole";
  EXPECT_TRUE(emulator_.Objects("pool1").empty());
  EXPECT_TRUE(std::filesystem::is_empty(emulator_.data_dir() + "/tmp"));
}

}  // namespace
}  // namespace orca_test
