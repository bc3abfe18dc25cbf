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
#include "StorageClient/PartTaskRegistry.h"
#include "UploadTestUtil.h"

namespace Orca {
namespace CloudStorage {
namespace {

using PieceUploadTest = orca_test::UploadTest;

// The three members called alike; `first` only matters to
// UploadFileByPiecesAndFileName, the others know a first piece by its empty URL.
using PieceMember = bool (*)(CObjectClient&, std::string& url, const std::string& data, bool last,
                             bool first);

bool ByPieces(CObjectClient& client, std::string& url, const std::string& data, bool last,
              bool /*first*/) {
  return client.UploadFileByPieces(url, data.data(), static_cast<uint32_t>(data.size()), last);
}

bool AloneStorage(CObjectClient& client, std::string& url, const std::string& data, bool last,
                  bool /*first*/) {
  return client.UploadFileByPiecesAloneStorage(url, data.data(), static_cast<uint32_t>(data.size()),
                                               last);
}

bool AndFileName(CObjectClient& client, std::string& url, const std::string& data, bool last,
                 bool first) {
  return client.UploadFileByPiecesAndFileName(url, data.data(), static_cast<uint32_t>(data.size()),
                                              last, first);
}

TEST_F(PieceUploadTest, PiecesBecomePartsInOrder) {
  const std::string big = orca_test::RandomBytes(2 * orca_test::kMiB + 7, 5);
  const struct {
    const char* name;
    PieceMember member;
    std::string first_url;  // also the object's name for AndFileName
    std::vector<std::string> pieces;
    std::vector<size_t> parts;  // as sent to the data nodes; 0 for a PUT
  } cases[] = {
      {"by pieces, one", ByPieces, "", {big}, {0}},
      {"by pieces, four", ByPieces, "", {big, "b", big, "dd"}, {1, 2, 3, 4}},
      {"alone storage, one", AloneStorage, "", {big}, {1}},
      {"alone storage, four", AloneStorage, "", {"a", big, "c", big}, {1, 2, 3, 4}},
      {"file name, one", AndFileName, "one.bin", {big}, {0}},
      {"file name, four", AndFileName, "four.bin", {big, big, "c", "d"}, {1, 2, 3, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    emulator_.ClearJournal();
    std::string url = c.first_url;
    std::string whole;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      ASSERT_TRUE(c.member(client_, url, c.pieces[i], i + 1 == c.pieces.size(), i == 0));
      whole += c.pieces[i];
    }
    EXPECT_THAT(url, ::testing::MatchesRegex(
                         "/pool1/" + (c.first_url.empty()
                                          ? std::string(orca_test::kGuidPattern) + "\\.pfile"
                                          : c.first_url)));
    EXPECT_TRUE(Stored(url) == whole);
    EXPECT_EQ(PartsSent(), c.parts);
    PartList pieces;
    EXPECT_FALSE(CPartTaskRegistry::GetInstance().GetAllPieces(url.substr(7), pieces))
        << "the piece task is closed";
  }
  EXPECT_EQ(emulator_.OpenUploads(), 0u);
}

TEST_F(PieceUploadTest, RefusedBeforeAnyRequest) {
  const std::string piece = "piece";
  const std::string oversize(32 * orca_test::kMiB + 1, 'x');
  const struct {
    PieceMember member;
    std::string url;
    const std::string* data;
    bool last;
    bool first;
    std::string logged;
  } cases[] = {
      {ByPieces, "noslash", &piece, false, false, "upload piece failed, invalid url[noslash]."},
      {AloneStorage, "/pool1/unknown.pfile", &piece, true, false,
       "upload piece failed, find task failed, url[/pool1/unknown.pfile]."},
      {AndFileName, "", &piece, false, true, "out_url is empty!"},
      {AndFileName, "big.bin", &oversize, true, true, "upload file failed, size[33554433] exceed."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    orca_test::LogCapture logs;
    std::string url = c.url;
    EXPECT_FALSE(c.member(client_, url, *c.data, c.last, c.first));
    EXPECT_EQ(url, c.url);
    EXPECT_TRUE(logs.Contains(c.logged));
  }
  EXPECT_EQ(LastError(), std::make_pair(2, std::string("file size exceed 32M.")));
  EXPECT_TRUE(emulator_.Journal().empty());
}

TEST_F(PieceUploadTest, RetryAfterFailedCompletionStoresEachPieceOnce) {
  AddFault(
      R"("kind":"status","role":"upload","method":"POST","path":"*?upload_id=*","status":503)");
  std::string url;
  ASSERT_TRUE(ByPieces(client_, url, "first ", false, true));
  const std::string first_url = url;
  EXPECT_FALSE(ByPieces(client_, url, "last", true, false));
  EXPECT_EQ(LastError(), std::make_pair(5, std::string("FinishPartTask rsp status code[503].")));
  EXPECT_EQ(emulator_.OpenUploads(), 1u) << "the piece task stays open";

  ASSERT_TRUE(ByPieces(client_, url, "last", true, false));
  EXPECT_EQ(url, first_url);
  EXPECT_EQ(Stored(url), "first last");
  // The resent last piece replaced part 2 instead of becoming part 3.
  EXPECT_EQ(PartsSent(), std::vector<size_t>({1, 2, 2}));
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
      if (AndFileName(client_, url, "head-", false, true)) ++succeeded;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(succeeded.load(), 1);
  EXPECT_TRUE(logs.Contains("upload piece failed, add task failed, url[same.bin]."));

  // The winner's piece task goes on.
  std::string& url = urls[0] == "same.bin" ? urls[1] : urls[0];
  ASSERT_TRUE(AndFileName(client_, url, "tail", true, false));
  EXPECT_EQ(Stored(url), "head-tail");
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
