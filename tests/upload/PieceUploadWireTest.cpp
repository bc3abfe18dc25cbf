// Piece-wise uploads against the capture server: the parts and completion
// each member sends, the one-piece variants and the refusals.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogCapture.h"
#include "StorageClient/PartTaskRegistry.h"
#include "UploadCaptureTest.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::AloneStorage;
using orca_test::AndFileName;
using orca_test::ByPieces;
using orca_test::CapturedRequest;
using orca_test::CompletedPart;
using orca_test::PieceMember;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::MatchesRegex;

std::string KeyOf(const std::string& url) { return url.substr(url.rfind('/') + 1); }

bool PieceTaskOpen(const std::string& url) {
  PartList parts;
  return CPartTaskRegistry::GetInstance().GetAllPieces(KeyOf(url), parts);
}

class PieceUploadWireTest : public orca_test::UploadCaptureTest {
 protected:
  // "METHOD ?query" of each request a server received from the `from`-th on.
  static std::vector<std::string> Sent(const orca_test::CaptureServer& server, size_t from) {
    std::vector<std::string> sent;
    const std::vector<CapturedRequest> requests = server.Requests();
    for (size_t i = from; i < requests.size(); ++i) {
      const size_t query = requests[i].target.find('?');
      sent.push_back(requests[i].method + " " +
                     (query == std::string::npos ? "" : requests[i].target.substr(query)));
    }
    return sent;
  }
};

struct MemberCase {
  const char* name;
  PieceMember member;
  const char* first_url;  // the URL argument of the first piece
  std::string url_pattern;
};

const MemberCase kMembers[] = {
    {"by pieces", ByPieces, "", std::string("/p1/") + orca_test::kGuidPattern + "\\.pfile"},
    {"alone storage", AloneStorage, "", std::string("/p1/") + orca_test::kGuidPattern + "\\.pfile"},
    {"file name", AndFileName, "named.bin", "/p1/named\\.bin"},
};

TEST_F(PieceUploadWireTest, FourPiecesBecomePartsOneToFour) {
  const std::vector<std::string> pieces = {"a", "bb", "ccc", "dddd"};
  for (const MemberCase& c : kMembers) {
    SCOPED_TRACE(c.name);
    const size_t upload_from = upload_.Requests().size();
    const size_t node_from = node_.Requests().size();
    ExpectMultipart("U4");
    std::string url = c.first_url;
    for (size_t i = 0; i < pieces.size(); ++i) {
      ASSERT_TRUE(c.member(*client_, url, pieces[i], i + 1 == pieces.size(), i == 0));
      ASSERT_THAT(url, MatchesRegex(c.url_pattern));
    }
    EXPECT_THAT(
        Sent(node_, node_from),
        ElementsAre("POST ?upload_id=U4&part_number=1", "POST ?upload_id=U4&part_number=2",
                    "POST ?upload_id=U4&part_number=3", "POST ?upload_id=U4&part_number=4"));
    for (size_t i = 0; i < pieces.size(); ++i) {
      EXPECT_EQ(node_.Requests()[node_from + i].body, pieces[i]);
    }
    EXPECT_THAT(Sent(upload_, upload_from),
                ElementsAre("GET ?bestnode", "POST ?uploads", "POST ?upload_id=U4"));
    std::string total;
    std::vector<CompletedPart> listed;
    ASSERT_TRUE(orca_test::ParseCompletion(upload_.Requests().back().body, total, listed));
    EXPECT_EQ(total, "4");
    EXPECT_THAT(listed, ElementsAre(CompletedPart{"1", "1", ""}, CompletedPart{"2", "2", ""},
                                    CompletedPart{"3", "3", ""}, CompletedPart{"4", "4", ""}));
    EXPECT_FALSE(PieceTaskOpen(url));
  }
}

TEST_F(PieceUploadWireTest, OnePieceUploads) {
  struct Case {
    const MemberCase& member;
    std::vector<std::string> to_upload;
    std::vector<std::string> to_node;
  };
  const Case cases[] = {
      {kMembers[0], {"GET ?bestnode"}, {"PUT "}},
      {kMembers[1],
       {"GET ?bestnode", "POST ?uploads", "POST ?upload_id=U1"},
       {"POST ?upload_id=U1&part_number=1"}},
      {kMembers[2], {"GET ?bestnode"}, {"PUT "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.member.name);
    const size_t upload_from = upload_.Requests().size();
    const size_t node_from = node_.Requests().size();
    const bool multipart = c.to_upload.size() > 1;
    multipart ? ExpectMultipart("U1") : ExpectBestNode();
    std::string url = c.member.first_url;
    ASSERT_TRUE(c.member.member(*client_, url, "whole", true, true));
    EXPECT_THAT(url, MatchesRegex(c.member.url_pattern));
    EXPECT_THAT(Sent(upload_, upload_from), ElementsAreArray(c.to_upload));
    EXPECT_THAT(Sent(node_, node_from), ElementsAreArray(c.to_node));
    EXPECT_EQ(node_.Requests().back().body, "whole");
    EXPECT_FALSE(PieceTaskOpen(url));
  }
}

TEST_F(PieceUploadWireTest, RefusedBeforeAnyRequest) {
  const std::string oversize(32 * orca_test::kMiB + 1, 'x');
  struct Case {
    PieceMember member;
    std::string url;
    const std::string* data;
    bool last;
    bool first;
    std::string logged;
  };
  const std::string piece = "piece";
  const Case cases[] = {
      {ByPieces, "noslash", &piece, false, false, "upload piece failed, invalid url[noslash]."},
      {AloneStorage, "/p1/unknown.pfile", &piece, true, false,
       "upload piece failed, find task failed, url[/p1/unknown.pfile]."},
      {AndFileName, "", &piece, false, true, "out_url is empty!"},
      {AndFileName, "", &piece, true, true, "out_url is empty!"},
      // A name holding "/" can start a piece task, but later pieces look up
      // the text after the last "/".
      {AndFileName, "/p1/dir/x.bin", &piece, false, false,
       "upload piece failed, find task failed, url[/p1/dir/x.bin]."},
      {AndFileName, "big.bin", &oversize, true, true, "upload file failed, size[33554433] exceed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logged);
    orca_test::LogCapture logs;
    std::string url = c.url;
    EXPECT_FALSE(c.member(*client_, url, *c.data, c.last, c.first));
    EXPECT_EQ(url, c.url);
    EXPECT_TRUE(logs.Contains(c.logged));
  }
  int32_t code = 0;
  EXPECT_EQ(Error(code), "file size exceed 32M.");
  EXPECT_EQ(code, 2);
  EXPECT_TRUE(upload_.Requests().empty());
  EXPECT_TRUE(node_.Requests().empty());
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
