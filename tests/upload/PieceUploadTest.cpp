// Piece-wise uploads through the emulator: the parts each member sends and
// the object they make, the refusals, a retried completion and a file name
// started twice.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "UploadTestUtil.h"

namespace Orca {
namespace CloudStorage {
namespace {

using PieceUploadTest = orca_test::UploadTest;

enum class Member { kByPieces, kAloneStorage, kAndFileName };

// Calls `member`; `first` only matters to UploadFileByPiecesAndFileName, the
// others know a first piece by its empty URL.
bool UploadPiece(CObjectClient& client, Member member, std::string& url, const std::string& data,
                 bool last, bool first = false) {
  const auto size = static_cast<uint32_t>(data.size());
  switch (member) {
    case Member::kByPieces:
      return client.UploadFileByPieces(url, data.data(), size, last);
    case Member::kAloneStorage:
      return client.UploadFileByPiecesAloneStorage(url, data.data(), size, last);
    case Member::kAndFileName:
      return client.UploadFileByPiecesAndFileName(url, data.data(), size, last, first);
  }
  return false;
}

TEST_F(PieceUploadTest, PiecesBecomePartsInOrder) {
  const std::string big = orca_test::GeneratedBytes(5, 0, 2 * orca_test::kMiB + 7);
  const struct {
    Member member;
    std::string first_url;  // also the object's name for AndFileName
    std::vector<std::string> pieces;
    std::vector<size_t> parts;  // as sent to the data nodes; 0 for a PUT
  } cases[] = {
      {Member::kByPieces, "", {big}, {0}},
      {Member::kByPieces, "", {big, "b", big, "dd"}, {1, 2, 3, 4}},
      {Member::kAloneStorage, "", {big}, {1}},
      {Member::kAloneStorage, "", {"a", big, "c", big}, {1, 2, 3, 4}},
      {Member::kAndFileName, "one.bin", {big}, {0}},
      {Member::kAndFileName, "four.bin", {big, big, "c", "d"}, {1, 2, 3, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "member " << static_cast<int>(c.member) << ", "
                                      << c.pieces.size() << " pieces");
    emulator_.ClearJournal();
    std::string url = c.first_url;
    std::string whole;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      ASSERT_TRUE(
          UploadPiece(client_, c.member, url, c.pieces[i], i + 1 == c.pieces.size(), i == 0));
      whole += c.pieces[i];
    }
    EXPECT_THAT(url, ::testing::MatchesRegex(
                         "/pool1/" + (c.first_url.empty()
                                          ? std::string(orca_test::kGuidPattern) + "\\.pfile"
                                          : c.first_url)));
    EXPECT_TRUE(Stored(url) == whole);
    EXPECT_EQ(PartsSent(), c.parts);
  }
  EXPECT_EQ(emulator_.OpenUploads(), 0u);
}

TEST_F(PieceUploadTest, RefusedBeforeAnyRequest) {
  const struct {
    Member member;
    std::string url;
    std::string data;
    std::string logged;
  } cases[] = {
      {Member::kByPieces, "noslash", "piece", "upload piece failed, invalid url[noslash]."},
      {Member::kAloneStorage, "/pool1/unknown.pfile", "piece",
       "upload piece failed, find task failed, url[/pool1/unknown.pfile]."},
      {Member::kAndFileName, "big.bin", std::string(32 * orca_test::kMiB + 1, 'x'),
       "upload file failed, size[33554433] exceed."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    orca_test::LogCapture logs;
    std::string url = c.url;
    EXPECT_FALSE(UploadPiece(client_, c.member, url, c.data, true, true));
    EXPECT_EQ(url, c.url);
    EXPECT_TRUE(logs.Contains(c.logged));
  }
  EXPECT_EQ(LastError(), std::make_pair(2, std::string("file size exceed 32M.")));
  EXPECT_TRUE(emulator_.Journal().empty());
}

// After a failed completion the piece task stays open with all its pieces,
// the last included; the next last piece completes it, either sent again
// (replacing the last part) or empty (only the completion is retried).
TEST_F(PieceUploadTest, RetryAfterFailedCompletionStoresEachPieceOnce) {
  const struct {
    const char* name;
    std::string retry;
    std::vector<size_t> parts;  // as sent to the data nodes
  } cases[] = {
      {"last piece sent again", "last", {1, 2, 2}},
      {"empty last piece", "", {1, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    emulator_.ClearJournal();
    AddFault(
        R"("kind":"status","role":"upload","method":"POST","path":"*?upload_id=*","status":503)");
    std::string url;
    ASSERT_TRUE(UploadPiece(client_, Member::kByPieces, url, "first ", false));
    const std::string first_url = url;
    EXPECT_FALSE(UploadPiece(client_, Member::kByPieces, url, "last", true));
    EXPECT_EQ(LastError(), std::make_pair(5, std::string("FinishPartTask rsp status code[503].")));
    EXPECT_EQ(emulator_.OpenUploads(), 1u) << "the piece task stays open";

    ASSERT_TRUE(UploadPiece(client_, Member::kByPieces, url, c.retry, true));
    EXPECT_EQ(url, first_url);
    EXPECT_EQ(Stored(url), "first last");
    EXPECT_EQ(PartsSent(), c.parts);
    EXPECT_EQ(emulator_.OpenUploads(), 0u);
  }
}

TEST_F(PieceUploadTest, SameFileNameFromTwoThreads) {
  orca_test::LogCapture logs;
  std::atomic<int> ready{0};
  std::atomic<int> succeeded{0};
  std::string urls[2] = {"same.bin", "same.bin"};
  std::vector<std::thread> threads;
  for (std::string& url : urls) {
    threads.emplace_back([&] {
      ++ready;
      while (ready.load() < 2) std::this_thread::yield();
      if (UploadPiece(client_, Member::kAndFileName, url, "head-", false, true)) ++succeeded;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(succeeded.load(), 1);
  EXPECT_TRUE(logs.Contains("upload piece failed, add task failed, url[same.bin]."));

  // The winner's piece task goes on.
  std::string& url = urls[0] == "same.bin" ? urls[1] : urls[0];
  ASSERT_TRUE(UploadPiece(client_, Member::kAndFileName, url, "tail", true));
  EXPECT_EQ(Stored(url), "head-tail");
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
