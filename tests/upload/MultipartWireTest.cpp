// The multipart requests on the wire, against the capture server: URLs,
// header order, signed resources and the completion document.
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <string>
#include <vector>

#include "WireCheck.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::CapturedRequest;
using orca_test::XmlReply;

std::string OutlineOf(const pugi::xml_node& node) {
  std::string out = std::string(node.name()) + "(";
  for (const pugi::xml_node& child : node.children()) {
    out += child.type() == pugi::node_element ? OutlineOf(child) : child.value();
  }
  return out + ")";
}

// The element tree of an XML document as "Name(text or children)", e.g.
// "A(B(1)C())"; "" when the text is not XML.
std::string Outline(const std::string& xml) {
  pugi::xml_document document;
  return document.load_string(xml.c_str()) ? OutlineOf(document.document_element()) : "";
}

using MultipartWireTest = orca_test::ObjectWireTest;

TEST_F(MultipartWireTest, RequestsOnTheWire) {
  upload_.Enqueue(XmlReply(
      200,
      "<InitiateMultipartUploadResult><UploadId>U-7</UploadId></InitiateMultipartUploadResult>"));
  std::string task_id;
  ASSERT_TRUE(client_.CreatePartTask(task_id, "k.bin"));
  EXPECT_EQ(task_id, "U-7");
  ASSERT_TRUE(client_.UploadPartObject("k.bin", NodeLocation(), 12, task_id, "part\0bytes", 10));
  ASSERT_TRUE(client_.FinishPartTask(task_id, "k.bin", PartList{{12, {10, ""}}}));

  const std::vector<CapturedRequest> upload = upload_.Requests();
  ASSERT_EQ(upload.size(), 2u);
  ExpectFrame(upload[0], "POST", "/p1/k.bin?uploads", {"Host", "Date", "Authorization"},
              std::nullopt);
  EXPECT_EQ(upload[0].body, "");
  ExpectFrame(upload[1], "POST", "/p1/k.bin?upload_id=U-7",
              {"Host", "Date", "Content-MD5", "Authorization"}, std::nullopt);
  EXPECT_EQ(upload[1].Header("Content-MD5"), orca_test::ContentMd5Of(upload[1].body));

  ASSERT_EQ(node_.Requests().size(), 1u);
  const CapturedRequest part = node_.Requests()[0];
  ExpectFrame(part, "POST", "/p1/k.bin?upload_id=U-7&part_number=12",
              {"Host", "Date", "Content-MD5", "Authorization"}, "binary/octet-stream");
  EXPECT_EQ(part.Header("Content-MD5"), orca_test::ContentMd5Of(part.body));
  EXPECT_EQ(part.body, std::string("part\0bytes", 10));
}

TEST_F(MultipartWireTest, CompletionDocumentListsPartsByPosition) {
  const struct {
    const char* name;
    PartList parts;
    const char* outline;
  } cases[] = {
      {"one part", {{1, {5, ""}}}, "TotalPartNum(1)Part(PartNumber(1)PartSize(5)ETag())"},
      {"gap",
       {{1, {1, ""}}, {2, {2, ""}}, {4, {4, ""}}},
       "TotalPartNum(3)Part(PartNumber(1)PartSize(1)ETag())Part(PartNumber(2)PartSize(2)ETag())"
       "Part(PartNumber(4)PartSize(4)ETag())"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(client_.FinishPartTask("U1", "k", c.parts));
    EXPECT_EQ(Outline(upload_.Requests().back().body),
              std::string("CompleteMultipartUpload(") + c.outline + ")");
  }
}

TEST_F(MultipartWireTest, InitiationWithoutUploadIdStillOpensATask) {
  upload_.Enqueue(XmlReply(200, "<InitiateMultipartUploadResult/>"));
  std::string task_id = "old";
  EXPECT_TRUE(client_.CreatePartTask(task_id, "k"));
  EXPECT_EQ(task_id, "");
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
