// Transfers in flight at once (SetTransferConcurrency): the ranges of a
// ranged download and the part workers of a whole-file upload, one at a time
// and four side by side. Runs under ThreadSanitizer too.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Emulator.h"
#include "OrcaCloudStorage/StorageClient.h"
#include "TestFiles.h"

namespace orca_test {
namespace {

constexpr uint64_t kMiB = uint64_t{1024} * 1024;

// The range text of a ranged GET for the slice at `index`.
std::string RangeOf(uint64_t index, uint64_t size) {
  const uint64_t start = index * kMiB;
  return "bytes=" + std::to_string(start) + "-" + std::to_string(std::min(start + kMiB, size));
}

// A fault of `kind` on the download of the slice at `index`, after 1 s.
EmulatorFault RangeFault(const std::string& kind, uint64_t index, uint64_t size) {
  EmulatorFault fault;
  fault.kind = kind;
  fault.role = "download";
  fault.range = RangeOf(index, size);
  fault.delay_ms = 1000;
  return fault;
}

// One emulator over HTTPS per test; the client's progress goes to percents_.
class TransferConcurrencyTest : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override {
    ASSERT_NE(::mkdtemp(dir_.data()), nullptr);
    EmulatorOptions options;
    options.https = true;
    options.nodes = 1;
    emulator_ = std::make_unique<Emulator>(options);
    ::setenv("ORCA_CS_CA_BUNDLE", emulator_->ca_bundle().c_str(), 1);
    Orca::CloudStorage::SStorageServerConfig config = emulator_->ObjectConfig();
    config.progress_callback = [this](const Orca::CloudStorage::SProgressInfo& info) {
      const std::lock_guard<std::mutex> lock(mutex_);
      percents_.push_back(info.percent);
    };
    client_ = std::make_unique<Orca::CloudStorage::CObjectClient>(config);
    ASSERT_TRUE(client_->SetTransferConcurrency(GetParam()));
  }
  void TearDown() override {
    client_.reset();
    emulator_.reset();
    std::filesystem::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // Range headers of the object GETs, in the order they arrived.
  std::vector<std::string> RangesRequested() {
    std::vector<std::string> ranges;
    for (const EmulatorRequest& request : emulator_->Journal()) {
      if (request.role == "download" && request.method == "GET" && request.query.empty()) {
        ranges.push_back(request.Header("Range"));
      }
    }
    return ranges;
  }
  // Uploads may report a percentage again (each wait for the parts starts
  // afresh); downloads report each one once.
  void ExpectProgressRisingTo100(bool strictly) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ASSERT_FALSE(percents_.empty());
    EXPECT_GT(percents_.front(), 0);
    EXPECT_EQ(percents_.back(), 100);
    const auto falls =
        strictly ? std::adjacent_find(percents_.begin(), percents_.end(), std::greater_equal<>())
                 : std::adjacent_find(percents_.begin(), percents_.end(), std::greater<>());
    EXPECT_EQ(falls, percents_.end());
  }

  std::unique_ptr<Emulator> emulator_;
  std::unique_ptr<Orca::CloudStorage::CObjectClient> client_;
  std::mutex mutex_;
  std::vector<int32_t> percents_;  // guarded by mutex_
  std::string dir_ = std::filesystem::temp_directory_path().string() + "/orca-tc-XXXXXX";
};

// Every range is asked for once, each on a connection of at most N, and the
// file is exactly the object; one at a time they go in order.
TEST_P(TransferConcurrencyTest, RangesEachOnceWithinNConnections) {
  constexpr uint64_t kSize = 24 * kMiB + 5;
  const std::string path = Path("ranged");
  ASSERT_TRUE(client_->DownloadFile(GeneratedUrl(kSize, 3), path));
  EXPECT_TRUE(ReadFile(path) == GeneratedBytes(3, 0, kSize));

  std::vector<std::string> expected;
  for (uint64_t i = 0; i < 25; ++i) expected.push_back(RangeOf(i, kSize));
  const std::vector<std::string> requested = RangesRequested();
  if (GetParam() == 1) {
    EXPECT_EQ(requested, expected);
  } else {
    EXPECT_THAT(requested, ::testing::UnorderedElementsAreArray(expected));
  }
  EXPECT_LE(emulator_->Connections().download, GetParam());
  ExpectProgressRisingTo100(true);
}

// A range that fails stops new ranges from starting; the failure recorded is
// that of the lowest failed range, as one range after another would meet it,
// even when a later range failed first.
TEST_P(TransferConcurrencyTest, LowestFailedRangeIsRecorded) {
  constexpr uint64_t kSize = 12 * kMiB;
  const std::string url = GeneratedUrl(kSize, 4);
  const std::string no_such_key = "<Error><Code>NoSuchKey</Code></Error>";
  // Range 2 fails at once while ranges 0, 1 and 3 are still on their way.
  const struct {
    const char* name;
    const char* range1_kind;  // after 1 s: "delay" succeeds, "status" answers 503
    int32_t code;
    const char* message;
    size_t requests_one_at_a_time;
  } cases[] = {
      {"range 1 slow, range 2 fails", "delay", 9, "NoSuchKey", 3},
      {"range 1 fails late, range 2 first", "status", 5, "DownloadObject rsp status code[503].", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    emulator_->ClearFaults();
    emulator_->ClearJournal();
    emulator_->AddFault(RangeFault(c.range1_kind, 1, kSize));
    EmulatorFault fails = RangeFault("status", 2, kSize);
    fails.delay_ms = 0;
    fails.status = 404;
    fails.body = no_such_key;
    emulator_->AddFault(fails);
    emulator_->AddFault(RangeFault("delay", 0, kSize));
    emulator_->AddFault(RangeFault("delay", 3, kSize));

    ASSERT_FALSE(client_->DownloadFile(url, Path("failed")));
    int32_t code = 0;
    std::string message;
    client_->GetLastError(code, message);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(message, c.message);
    // Nothing started after the failure: only the ranges already in flight.
    EXPECT_EQ(RangesRequested().size(), GetParam() == 1 ? c.requests_one_at_a_time : GetParam());
  }
}

// A whole-file upload keeps at most N parts in flight, each worker on a
// connection of its own, and the object is the file.
TEST_P(TransferConcurrencyTest, PartsWithinNConnections) {
  const std::string bytes = GeneratedBytes(5, 0, 24 * kMiB + 7);
  const std::string path = Path("upload.bin");
  ASSERT_TRUE(std::ofstream(path, std::ios::binary) << bytes);
  std::string url;
  ASSERT_TRUE(client_->UploadFile(url, path));
  EXPECT_LE(emulator_->Connections().nodes.at(0), GetParam());
  ExpectProgressRisingTo100(false);

  char* buffer = nullptr;
  uint32_t length = 0;
  ASSERT_TRUE(client_->DownloadFile(&buffer, length, url));
  EXPECT_TRUE(std::string(buffer, length) == bytes);
  delete[] buffer;
}

TEST(TransferConcurrencyLimitsTest, OutOfRangeIsRefusedAndKeepsTheValue) {
  Orca::CloudStorage::SStorageServerConfig config;
  Orca::CloudStorage::CObjectClient client(config);
  for (const uint32_t count : {0u, 17u}) {
    SCOPED_TRACE(count);
    EXPECT_FALSE(client.SetTransferConcurrency(count));
    int32_t code = 0;
    std::string message;
    client.GetLastError(code, message);
    EXPECT_EQ(code, 2);
    EXPECT_EQ(message, "transfer concurrency[" + std::to_string(count) + "] out of range[1-16].");
  }
  EXPECT_TRUE(client.SetTransferConcurrency(1));
  EXPECT_TRUE(client.SetTransferConcurrency(16));
}

INSTANTIATE_TEST_SUITE_P(OneAndFour, TransferConcurrencyTest, ::testing::Values(1u, 4u),
                         [](const auto& param) { return "N" + std::to_string(param.param); });

}  // namespace
}  // namespace orca_test
