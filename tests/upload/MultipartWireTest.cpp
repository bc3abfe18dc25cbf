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

// The element tree of an XML element as "Name(text or children)", e.g.
// "A(B(1)C())".
std::string Outline(const pugi::xml_node& node) {
  std::string out = std::string(node.name()) + "(";
  for (const pugi::xml_node& child : node.children()) {
    out += child.type() == pugi::node_element ? Outline(child) : child.value();
  }
  return out + ")";
}

using MultipartWireTest = orca_test::ObjectWireTest;

TEST_F(MultipartWireTest, RequestsOnTheWire) {
  upload_.Enqueue(orca_test::XmlReply(
      200,
      "<InitiateMultipartUploadResult><UploadId>U-7</UploadId></InitiateMultipartUploadResult>"));
  std::string task_id;
  ASSERT_TRUE(client_.CreatePartTask(task_id, "k.bin"));
  EXPECT_EQ(task_id, "U-7");
  ASSERT_TRUE(client_.UploadPartObject("k.bin", NodeLocation(), 12, task_id, "part\0bytes", 10));
  // Parts are listed by their numbers, gaps included.
  ASSERT_TRUE(client_.FinishPartTask(task_id, "k.bin", PartList{{2, {1, ""}}, {12, {10, ""}}}));

  const std::vector<CapturedRequest> upload = upload_.Requests();
  ASSERT_EQ(upload.size(), 2u);
  ExpectFrame(upload[0], "POST", "/p1/k.bin?uploads", {"Host", "Date", "Authorization"},
              std::nullopt);
  EXPECT_EQ(upload[0].body, "");
  ExpectFrame(upload[1], "POST", "/p1/k.bin?upload_id=U-7",
              {"Host", "Date", "Content-MD5", "Authorization"}, std::nullopt);
  EXPECT_EQ(upload[1].Header("Content-MD5"), orca_test::ContentMd5Of(upload[1].body));
  pugi::xml_document completion;
  ASSERT_TRUE(completion.load_string(upload[1].body.c_str()));
  EXPECT_EQ(Outline(completion.document_element()),
            "CompleteMultipartUpload(TotalPartNum(2)Part(PartNumber(2)PartSize(1)ETag())"
            "Part(PartNumber(12)PartSize(10)ETag()))");

  ASSERT_EQ(node_.Requests().size(), 1u);
  const CapturedRequest part = node_.Requests()[0];
  ExpectFrame(part, "POST", "/p1/k.bin?upload_id=U-7&part_number=12",
              {"Host", "Date", "Content-MD5", "Authorization"}, "binary/octet-stream");
  EXPECT_EQ(part.Header("Content-MD5"), orca_test::ContentMd5Of(part.body));
  EXPECT_EQ(part.body, std::string("part\0bytes", 10));
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
