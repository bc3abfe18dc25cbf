// Retries, resumed downloads and cancellation against the emulator. Runs
// under ThreadSanitizer too.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "OrcaCloudStorage/StorageClient.h"
#include "TestFiles.h"

namespace orca_test {
namespace {

using Orca::CloudStorage::CObjectClient;
using Orca::CloudStorage::CPictureClient;
using Clock = std::chrono::steady_clock;

constexpr uint64_t kMiB = uint64_t{1024} * 1024;
// Far longer than any cancellation may take: a hang, not slowness.
constexpr auto kNoHang = std::chrono::seconds(20);

int64_t Micros(Clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
}

EmulatorFault Fault(const std::string& kind, const std::string& role, int count = 1) {
  EmulatorFault fault;
  fault.kind = kind;
  fault.role = role;
  fault.count = count;
  return fault;
}

class RetryAndCancelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(::mkdtemp(dir_.data()), nullptr); }
  void TearDown() override {
    client_.reset();
    emulator_.reset();
    std::filesystem::remove_all(dir_);
  }
  void Start(bool https) {
    EmulatorOptions options;
    options.https = https;
    emulator_ = std::make_unique<Emulator>(options);
    if (https) ::setenv("ORCA_CS_CA_BUNDLE", emulator_->ca_bundle().c_str(), 1);
    Orca::CloudStorage::SStorageServerConfig config = emulator_->ObjectConfig();
    config.progress_callback = [this](const Orca::CloudStorage::SProgressInfo&) {
      if (on_progress_) on_progress_();
    };
    client_ = std::make_unique<CObjectClient>(config);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::vector<std::string> DownloadRanges() {
    std::vector<std::string> ranges;
    for (const EmulatorRequest& request : emulator_->Journal()) {
      if (request.role == "download" && request.method == "GET") {
        ranges.push_back(request.Header("Range"));
      }
    }
    return ranges;
  }
  void ExpectError(int32_t code, const std::string& message) {
    int32_t got = 0;
    std::string text;
    client_->GetLastError(got, text);
    EXPECT_EQ(got, code);
    EXPECT_EQ(text, message);
  }

  std::unique_ptr<Emulator> emulator_;
  std::unique_ptr<CObjectClient> client_;
  std::function<void()> on_progress_;  // set before a call, read on its threads
  std::string dir_ = std::filesystem::temp_directory_path().string() + "/orca-rc-XXXXXX";
};

// A streamed download broken in the middle continues from the bytes written:
// the next request asks for the rest, and the file is the object.
TEST_F(RetryAndCancelTest, BrokenStreamResumesFromTheBytesWritten) {
  Start(false);
  constexpr uint64_t kSize = 4 * kMiB + 3;
  client_->SetRetryPolicy(3, 1);
  for (const char* kind : {"reset_mid_body", "short_body"}) {
    SCOPED_TRACE(kind);
    emulator_->ClearJournal();
    emulator_->AddFault(Fault(kind, "download"));
    const std::string path = Path(kind);
    ASSERT_TRUE(client_->DownloadFile(GeneratedUrl(kSize, 1), path));
    EXPECT_TRUE(ReadFile(path) == GeneratedBytes(1, 0, kSize));
    const std::vector<std::string> ranges = DownloadRanges();
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0], "");
    EXPECT_EQ(ranges[1].rfind("bytes=", 0), 0u);
    EXPECT_NE(ranges[1], "bytes=0-");
  }
}

// A retried range is written from its own answer: a sized answer that broke
// and then a chunked one (which the response keeps) give the object.
TEST_F(RetryAndCancelTest, RetriedRangeIsWrittenFromItsOwnAnswer) {
  Start(true);
  client_->SetRetryPolicy(3, 1);
  for (const char* kind : {"reset_mid_body", "chunked"}) {
    EmulatorFault fault = Fault(kind, "download");
    fault.range = "bytes=0-*";
    emulator_->AddFault(fault);
  }
  constexpr uint64_t kSize = 10 * kMiB + 5;  // ranged from 10 MiB on
  const std::string path = Path("retried-range");
  ASSERT_TRUE(client_->DownloadFile(GeneratedUrl(kSize, 5), path));
  EXPECT_TRUE(ReadFile(path) == GeneratedBytes(5, 0, kSize));
  const std::vector<std::string> ranges = DownloadRanges();
  EXPECT_EQ(std::count(ranges.begin(), ranges.end(), "bytes=0-1048576"), 2)
      << ::testing::PrintToString(ranges);
}

// A resumed answer that does not continue the object (a server that ignores
// the Range) is refused: nothing of it is appended.
TEST_F(RetryAndCancelTest, ResumedAnswerMustContinueTheObject) {
  Start(false);
  client_->SetRetryPolicy(3, 1);
  emulator_->AddFault(Fault("reset_mid_body", "download"));
  emulator_->AddFault(Fault("ignore_range", "download"));
  const std::string path = Path("mismatch");
  EXPECT_FALSE(client_->DownloadFile(GeneratedUrl(2 * kMiB, 2), path));
  int32_t code = 0;
  std::string message;
  client_->GetLastError(code, message);
  EXPECT_EQ(code, 5);
  EXPECT_EQ(message.rfind("DownloadBigObject resumed answer does not continue the object at[", 0),
            0u)
      << message;
  EXPECT_LT(std::filesystem::file_size(path), 2 * kMiB);
}

// Transient answers cost a retry when retries are on, and the call when
// they are off (the default); a permanent one fails after every attempt.
TEST_F(RetryAndCancelTest, RetriesOnlyWhatThePolicyAllows) {
  Start(false);
  std::string url;
  ASSERT_TRUE(client_->UploadFile(url, "stored", 6));
  const struct {
    uint32_t attempts;
    int count;  // 503 answers in a row
    bool ok;
    size_t requests;
  } cases[] = {{1, 1, false, 1}, {3, 2, true, 3}, {3, 100, false, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.attempts) + " attempts, " + std::to_string(c.count) + " 503s");
    emulator_->ClearFaults();
    emulator_->ClearJournal();
    client_->SetRetryPolicy(c.attempts, 1);
    emulator_->AddFault(Fault("status", "download", c.count));
    char* buffer = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(client_->DownloadFile(&buffer, length, url), c.ok);
    if (c.ok) {
      EXPECT_EQ(std::string(buffer, length), "stored");
    }
    delete[] buffer;
    EXPECT_EQ(DownloadRanges().size(), c.requests);
    if (!c.ok) {
      ExpectError(5, "DownloadObject rsp status code[503].");
    }
  }
}

// The long operations, each kept in flight by a fault.
struct LongCall {
  const char* name;
  bool https;
  const char* fault_kind;
  const char* fault_role;
  const char* fault_path;  // the object's GETs or parts, not its metadata
  std::function<bool(CObjectClient&, const std::string& dir, const std::string& url)> call;
};

const LongCall kLongCalls[] = {
    {"streamed download", false, "stall", "download", "*.bin",
     [](CObjectClient& client, const std::string& dir, const std::string& url) {
       return client.DownloadFile(url, dir + "/streamed");
     }},
    {"ranged download", true, "delay", "download", "*.bin",
     [](CObjectClient& client, const std::string& dir, const std::string& url) {
       return client.DownloadFile(url, dir + "/ranged");
     }},
    {"memory download", false, "stall", "download", "*.bin",
     [](CObjectClient& client, const std::string&, const std::string& url) {
       char* buffer = nullptr;
       uint32_t length = 0;
       const bool ok = client.DownloadFile(&buffer, length, url);
       delete[] buffer;
       return ok;
     }},
    {"multipart upload", false, "delay", "node", "*part_number=*",
     [](CObjectClient& client, const std::string& dir, const std::string&) {
       std::string url;
       return client.UploadFile(url, dir + "/upload.bin");  // written by the test
     }},
};

// Cancel from another thread stops each long call: false, code 10
// "cancelled", nothing more sent; the next call runs normally.
TEST_F(RetryAndCancelTest, CancelFromAnotherThreadStopsEachLongCall) {
  std::ofstream(Path("upload.bin"), std::ios::binary) << GeneratedBytes(7, 0, 16 * kMiB);
  for (const LongCall& c : kLongCalls) {
    SCOPED_TRACE(c.name);
    Start(c.https);
    EmulatorFault fault = Fault(c.fault_kind, c.fault_role, 1000);
    fault.path = c.fault_path;
    fault.delay_ms = 15000;
    emulator_->AddFault(fault);
    CObjectClient copy(*client_);          // cancelling a copy stops the original's calls
    std::atomic<int64_t> cancelled_at{0};  // steady clock, microseconds
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      cancelled_at = Micros(Clock::now());
      copy.Cancel();
    });
    const Clock::time_point start = Clock::now();
    const bool ok = c.call(*client_, dir_, GeneratedUrl(16 * kMiB, 3));
    const int64_t returned_at = Micros(Clock::now());
    canceller.join();
    EXPECT_FALSE(ok);
    EXPECT_LT(Clock::now() - start, kNoHang);
    std::printf("cancellation latency, %s: %.1f ms\n", c.name,
                static_cast<double>(returned_at - cancelled_at) / 1000);
    ExpectError(10, "cancelled");

    emulator_->ClearFaults();
    // Requests already on their way when the call returned reach the journal
    // a little later; nothing may follow them.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const size_t sent = emulator_->Journal().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(emulator_->Journal().size(), sent) << "requests after the call returned";
    EXPECT_TRUE(c.call(*client_, dir_, GeneratedUrl(16 * kMiB, 3))) << "a call after Cancel";
  }
}

// Cancel from the call's own progress callback: the call stops at once.
TEST_F(RetryAndCancelTest, CancelFromTheProgressCallback) {
  for (const bool https : {false, true}) {
    SCOPED_TRACE(https ? "ranged" : "streamed");
    Start(https);
    on_progress_ = [this] { client_->Cancel(); };
    EXPECT_FALSE(client_->DownloadFile(GeneratedUrl(32 * kMiB, 4), Path("progress")));
    ExpectError(10, "cancelled");
    EXPECT_FALSE(ReadFile(Path("progress")) == GeneratedBytes(4, 0, 32 * kMiB));
    on_progress_ = nullptr;
  }
}

// The picture client: a cancelled download returns false; uploads are never
// repeated, downloads are.
TEST_F(RetryAndCancelTest, PictureClientRetriesReadsAndCancels) {
  Start(false);
  CPictureClient pictures(emulator_->PictureConfig());
  pictures.SetRetryPolicy(3, 1);
  const std::string jpeg = "\xff\xd8\xff\xe0 picture \xff\xd9";
  std::string url;
  EmulatorFault best_node = Fault("status", "gateway");  // the best-node query is a read
  best_node.method = "GET";
  emulator_->AddFault(best_node);
  ASSERT_TRUE(pictures.UploadPicture(url, jpeg.data(), static_cast<uint32_t>(jpeg.size())));
  EmulatorFault write = Fault("status", "gateway");  // the write itself is not repeated
  write.method = "POST";
  emulator_->AddFault(write);
  std::string second;
  EXPECT_FALSE(pictures.UploadPicture(second, jpeg.data(), static_cast<uint32_t>(jpeg.size())));

  EmulatorFault stall = Fault("stall", "gateway-download", 1000);
  stall.delay_ms = 15000;
  emulator_->AddFault(stall);
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    pictures.Cancel();
  });
  char* buffer = nullptr;
  uint32_t length = 0;
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(pictures.DownloadPicture(&buffer, length, url));
  EXPECT_LT(Clock::now() - start, kNoHang);
  canceller.join();
  emulator_->ClearFaults();
  ASSERT_TRUE(pictures.DownloadPicture(&buffer, length, url));
  EXPECT_EQ(std::string(buffer, length), jpeg);
  delete[] buffer;
}

}  // namespace
}  // namespace orca_test
