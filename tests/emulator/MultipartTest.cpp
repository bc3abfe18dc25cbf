// Multipart uploads: assembly, its checks, and open uploads across a restart.
#include <gtest/gtest.h>

#include <cstring>

#include "RawClient.h"

namespace orca_test {
namespace {

class MultipartTest : public ::testing::Test {
 protected:
  MultipartTest() : session_(emulator_) {}

  // Opens an upload of `key` and sends its parts 3, 1 and 2, in that order.
  std::string UploadParts(const std::string& key) {
    std::string id = session_.Initiate(key);
    for (const uint32_t number : {3, 1, 2}) {
      EXPECT_EQ(session_.PutPart(key, id, number, parts_[number - 1])->status, 200) << number;
    }
    return id;
  }

  Emulator emulator_;
  ObjectSession session_;
  const std::string parts_[3] = {GeneratedBytes(1, 0, 3000), GeneratedBytes(2, 0, 1000), "third"};
};

TEST_F(MultipartTest, AssemblesTheListedPartsAcrossARestart) {
  ASSERT_EQ(session_.Put("kept", "kept bytes")->status, 200);
  const std::string id = UploadParts("k");
  EXPECT_EQ(emulator_.Objects("pool1").size(), 1u) << "nothing is visible before completion";
  emulator_.Restart();
  ObjectSession again(emulator_);
  EXPECT_EQ(again.Get("kept")->body, "kept bytes");
  const auto done = again.Complete("k", id, ObjectSession::CompletionDocument({{1, 3000}, {3, 5}}));
  ASSERT_EQ(done->status, 200) << done->body;
  EXPECT_EQ(again.Get("k")->body, parts_[0] + parts_[2]) << "part 2 is left out";
  EXPECT_EQ(emulator_.OpenUploads(), 0u);
  EXPECT_EQ(again.PutPart("k", id, 4, "late")->status, 404) << "the upload is closed";
}

TEST_F(MultipartTest, RefusesWhatDoesNotMatchTheUpload) {
  const std::string id = UploadParts("k");
  const std::string one = ObjectSession::CompletionDocument({{1, 3000}});
  const auto edited = [&one](const char* from, const char* to) {
    return std::string(one).replace(one.find(from), std::strlen(from), to);
  };
  struct Case {
    const char* name;
    std::string upload_id;
    std::string document;
    const char* code;
  };
  const Case cases[] = {
      {"size differs", id, ObjectSession::CompletionDocument({{1, 3000}, {2, 999}}), "InvalidPart"},
      {"not uploaded", id, ObjectSession::CompletionDocument({{1, 3000}, {4, 1}}), "InvalidPart"},
      {"descending", id, ObjectSession::CompletionDocument({{2, 1000}, {1, 3000}}),
       "InvalidPartOrder"},
      {"total differs", id, edited("Num>1", "Num>2"), "MalformedXML"},
      {"no ETag", id, edited("<ETag/>", ""), "MalformedXML"},
      {"leading zero", id, edited(">1</PartNumber", ">01</PartNumber"), "MalformedXML"},
      {"not XML", id, "<CompleteMultipartUpload>", "MalformedXML"},
      {"unknown upload", std::string(32, 'f'), one, "NoSuchUpload"},
  };
  for (const Case& c : cases) {
    const auto result = session_.Complete("k", c.upload_id, c.document);
    EXPECT_EQ(result->status / 100, 4) << c.name;
    EXPECT_EQ(XmlText(result->body, "Code"), c.code) << c.name;
  }
  EXPECT_EQ(emulator_.OpenUploads(), 1u) << "failed completions leave the upload open";
  EXPECT_TRUE(emulator_.Objects("pool1").empty());
  EXPECT_EQ(XmlText(session_.PutPart("other", id, 1, "x")->body, "Code"), "NoSuchUpload");
  const std::string target = "/pool1/k?upload_id=" + id;
  EXPECT_EQ(session_.node.Send(RawRequest{"POST", target + "&part_number=01", "x"})->status, 400);
  RawRequest unsigned_document{"POST", target, one};
  unsigned_document.content_md5 = false;
  EXPECT_EQ(XmlText(session_.upload.Send(unsigned_document)->body, "Code"), "MissingContentMD5");
}

}  // namespace
}  // namespace orca_test
