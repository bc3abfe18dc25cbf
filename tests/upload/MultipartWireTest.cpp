// The multipart requests on the wire, against the capture server: URLs,
// header order and digests. The emulator checks the signatures and the
// completion document of every multipart upload end to end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WireCheck.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::CapturedRequest;

using MultipartWireTest = orca_test::ObjectWireTest;

TEST_F(MultipartWireTest, RequestsOnTheWire) {
  upload_.Enqueue(orca_test::XmlReply(
      200,
      "<InitiateMultipartUploadResult><UploadId>U-7</UploadId></InitiateMultipartUploadResult>"));
  std::string task_id;
  ASSERT_TRUE(Recorded(client_.CreatePartTask(task_id, "k.bin")));
  EXPECT_EQ(task_id, "U-7");
  ASSERT_TRUE(
      Recorded(client_.UploadPartObject("k.bin", NodeLocation(), 12, task_id, "part\0bytes", 10)));
  ASSERT_TRUE(Recorded(client_.FinishPartTask(task_id, "k.bin", PartList{{12, {10, ""}}})));

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

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
