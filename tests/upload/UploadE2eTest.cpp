// Uploads through the emulator, each object read back and compared by
// SHA-256: whole files of the boundary sizes, part failures, and piece-wise
// uploads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "LogCapture.h"
#include "OrcaCloudStorage/StorageClient.h"
#include "UploadTestUtil.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::EmulatorFault;
using orca_test::EmulatorRequest;
using orca_test::kMiB;

class UploadE2eTest : public ::testing::Test {
 protected:
  UploadE2eTest() {
    SStorageServerConfig config = emulator_.ObjectConfig();
    config.progress_callback = progress_.Callback();
    client_ = std::make_unique<CObjectClient>(config);
  }

  // SHA-256 of the stored object.
  std::string StoredSha256(const std::string& url) {
    char* buffer = nullptr;
    uint32_t length = 0;
    if (!client_->DownloadFile(&buffer, length, url)) {
      ADD_FAILURE() << "cannot read back " << url;
      return "";
    }
    const std::string bytes(buffer, length);
    delete[] buffer;
    return orca_test::Sha256Hex(bytes);
  }

  // Journal entries of part uploads (to the data nodes) or completions.
  std::vector<EmulatorRequest> Sent(bool parts) {
    std::vector<EmulatorRequest> sent;
    for (const EmulatorRequest& request : emulator_.Journal()) {
      const bool part = request.role == "node" && request.method == "POST";
      const bool completion = request.role == "upload" && request.method == "POST" &&
                              request.query.rfind("upload_id=", 0) == 0;
      if (parts ? part : completion) sent.push_back(request);
    }
    return sent;
  }

  std::string Error(int32_t& code) const {
    std::string msg;
    client_->GetLastError(code, msg);
    return msg;
  }

  orca_test::Emulator emulator_;
  orca_test::TempDir dir_;
  orca_test::ProgressLog progress_;
  std::unique_ptr<CObjectClient> client_;
};

TEST_F(UploadE2eTest, FilesOfBoundarySizesReadBackIdentical) {
  const struct {
    uint32_t size;
    size_t parts;  // 0: one PUT
  } cases[] = {
      {0, 0}, {10 * kMiB - 1, 0}, {10 * kMiB, 5}, {10 * kMiB + 1, 6}, {100 * kMiB, 50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    emulator_.ClearJournal();
    const size_t reports = progress_.Values().size();
    const std::string content = orca_test::RandomBytes(c.size, c.size);
    std::string url;
    ASSERT_TRUE(client_->UploadFile(url, dir_.Write("f.bin", content)));
    EXPECT_EQ(StoredSha256(url), orca_test::Sha256Hex(content));

    const std::vector<EmulatorRequest> parts = Sent(true);
    ASSERT_EQ(parts.size(), c.parts);
    for (const EmulatorRequest& part : parts) {
      const size_t number = std::stoul(part.query.substr(part.query.find("part_number=") + 12));
      const uint64_t expected = number < c.parts ? 2 * kMiB : c.size - (c.parts - 1) * 2 * kMiB;
      EXPECT_EQ(part.body_length, expected) << number;
    }
    // The server checks the completion's part count and sizes against the parts.
    const std::vector<EmulatorRequest> completions = Sent(false);
    ASSERT_EQ(completions.size(), c.parts == 0 ? 0u : 1u);
    if (c.parts != 0) {
      EXPECT_EQ(completions[0].status, 200);
      EXPECT_EQ(completions[0].Header("Content-Type"), "");
    }

    const std::vector<int32_t> all = progress_.Values();
    const std::vector<int32_t> values(all.begin() + reports, all.end());
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 100);
    EXPECT_EQ(std::count(values.begin(), values.end(), 100), 1);
    if (c.parts == 0) {
      EXPECT_EQ(values.size(), 1u);
    }
  }
  EXPECT_EQ(emulator_.OpenUploads(), 0u);
}

TEST_F(UploadE2eTest, PartFailures) {
  const std::string content = orca_test::RandomBytes(11 * kMiB, 11);  // 6 parts
  const std::string path = dir_.Write("parts.bin", content);
  struct Case {
    const char* kind;
    int count;
    bool ok;
    int32_t code;
    const char* message;
  };
  const Case cases[] = {
      {"status", 1, true, 0, ""},  // the second attempt succeeds
      {"status", 3, false, 5, "UploadPartObject rsp status code[500]."},
      {"not_enough_space", 3, false, 7, "upload object rsp status code[500]."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " x" + std::to_string(c.count));
    emulator_.ClearJournal();
    EmulatorFault fault;
    fault.kind = c.kind;
    fault.role = "node";
    fault.path = "*&part_number=3";
    fault.count = c.count;
    fault.status = 500;
    emulator_.AddFault(fault);

    std::string url = "untouched";
    EXPECT_EQ(client_->UploadFile(url, path), c.ok);
    const std::vector<EmulatorRequest> parts = Sent(true);
    EXPECT_EQ(std::count_if(parts.begin(), parts.end(),
                            [](const EmulatorRequest& r) {
                              return r.query.find("&part_number=3") != std::string::npos;
                            }),
              std::min(c.count + 1, 3));
    if (c.ok) {
      EXPECT_EQ(StoredSha256(url), orca_test::Sha256Hex(content));
    } else {
      EXPECT_EQ(url, "untouched");
      EXPECT_TRUE(Sent(false).empty()) << "no completion after a failed part";
      int32_t code = 0;
      EXPECT_EQ(Error(code), c.message);
      EXPECT_EQ(code, c.code);
      EXPECT_EQ(progress_.Values().back(), 100);
    }
    emulator_.ClearFaults();
  }
}

TEST_F(UploadE2eTest, MissingFileSendsNothing) {
  std::string url;
  EXPECT_FALSE(client_->UploadFile(url, dir_.Path("no-such-file.bin")));
  EXPECT_TRUE(emulator_.Journal().empty());
}

TEST_F(UploadE2eTest, PiecesReadBackAsOneObject) {
  const std::string big = orca_test::RandomBytes(2 * kMiB + 7, 5);
  const struct {
    const char* name;
    orca_test::PieceMember member;
    std::string first_url;
    std::vector<std::string> pieces;
  } cases[] = {
      {"by pieces, one", orca_test::ByPieces, "", {big}},
      {"by pieces, four", orca_test::ByPieces, "", {big, "b", big, "dd"}},
      {"alone storage, one", orca_test::AloneStorage, "", {big}},
      {"alone storage, four", orca_test::AloneStorage, "", {"a", big, "c", big}},
      {"file name, one", orca_test::AndFileName, "one.bin", {big}},
      {"file name, four", orca_test::AndFileName, "four.bin", {big, big, "c", "d"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string url = c.first_url;
    std::string whole;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      ASSERT_TRUE(c.member(*client_, url, c.pieces[i], i + 1 == c.pieces.size(), i == 0));
      whole += c.pieces[i];
    }
    EXPECT_EQ(StoredSha256(url), orca_test::Sha256Hex(whole));
  }
  EXPECT_EQ(emulator_.OpenUploads(), 0u);
}

TEST_F(UploadE2eTest, RetryAfterFailedCompletionStoresEachPieceOnce) {
  EmulatorFault fault;
  fault.kind = "status";
  fault.role = "upload";
  fault.method = "POST";
  fault.path = "*?upload_id=*";
  fault.status = 503;
  emulator_.AddFault(fault);
  std::string url;
  ASSERT_TRUE(orca_test::ByPieces(*client_, url, "first ", false, true));
  const std::string first_url = url;
  EXPECT_FALSE(orca_test::ByPieces(*client_, url, "last", true, false));
  int32_t code = 0;
  EXPECT_EQ(Error(code), "FinishPartTask rsp status code[503].");
  EXPECT_EQ(emulator_.OpenUploads(), 1u) << "the piece task stays open";

  ASSERT_TRUE(orca_test::ByPieces(*client_, url, "last", true, false));
  EXPECT_EQ(url, first_url);
  EXPECT_EQ(StoredSha256(url), orca_test::Sha256Hex("first last"));
  // The resent last piece replaced part 2 instead of becoming part 3.
  const std::vector<EmulatorRequest> parts = Sent(true);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[1].query, parts[2].query);
}

TEST_F(UploadE2eTest, SameFileNameFromTwoThreads) {
  orca_test::LogCapture logs;
  std::atomic<int> ready{0};
  std::atomic<int> succeeded{0};
  std::string urls[2] = {"same.bin", "same.bin"};
  std::vector<std::thread> threads;
  for (std::string& url : urls) {
    threads.emplace_back([&] {
      ++ready;
      while (ready.load() < 2) std::this_thread::yield();
      if (orca_test::AndFileName(*client_, url, "head-", false, true)) ++succeeded;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(succeeded.load(), 1);
  EXPECT_TRUE(logs.Contains("upload piece failed, add task failed, url[same.bin]."));

  // The winner's piece task goes on.
  std::string& url = urls[0] == "same.bin" ? urls[1] : urls[0];
  ASSERT_TRUE(orca_test::AndFileName(*client_, url, "tail", true, false));
  EXPECT_EQ(StoredSha256(url), orca_test::Sha256Hex("head-tail"));
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
