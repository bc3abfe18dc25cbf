// Whole-file uploads through the emulator, each object read back and
// compared: the boundary sizes, uploads side by side, part failures, the
// object key and the files refused. Run under ThreadSanitizer too.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "SecretGuard.h"
#include "UploadTestUtil.h"
#include "base/Encoding.h"
#include "file/LocalFile.h"

namespace Orca {
namespace CloudStorage {
namespace {

using orca_test::kMiB;
using UploadE2eTest = orca_test::UploadTest;

TEST_F(UploadE2eTest, FilesOfBoundarySizesReadBackIdentical) {
  const struct {
    uint32_t size;
    size_t parts;  // 0: one PUT
  } cases[] = {{0, 0}, {10 * kMiB - 1, 0}, {10 * kMiB, 5}, {10 * kMiB + 1, 6}, {100 * kMiB, 50}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    emulator_.ClearJournal();
    // Read-only, and held open by a reader: readers share the lock.
    const std::string content = orca_test::GeneratedBytes(c.size, 0, c.size);
    const std::string path = Write("f" + std::to_string(c.size), content);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    File::CLocalFile reader;
    ASSERT_TRUE(reader.Open(path, File::Access::kRead, File::Disposition::kOpenExisting));
    std::string url;
    ASSERT_TRUE(client_.UploadFile(url, path));
    EXPECT_TRUE(Stored(url) == content);

    // The emulator checks the completion's part count and sizes against the parts.
    EXPECT_EQ(SentTo("node").size(), std::max<size_t>(c.parts, 1));
    if (c.parts != 0) {
      EXPECT_EQ(SentTo("upload").back().query.rfind("upload_id=", 0), 0u) << "the completion";
    }
    // Below 100 while parts are in flight, then one final 100; a single
    // request reports only the 100.
    std::vector<int32_t> values = TakeProgress();
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 100);
    values.pop_back();
    EXPECT_THAT(values, ::testing::Each(::testing::Lt(100)));
    EXPECT_TRUE(c.parts != 0 || values.empty());
  }
  EXPECT_EQ(emulator_.OpenUploads(), 0u);
}

// Four at once on one shared client: each has its own pool, protocol client
// and upload id, and they meet in the registry and the error state.
TEST_F(UploadE2eTest, FourFileUploadsOnOneClient) {
  constexpr size_t kUploads = 4;
  std::vector<std::string> contents;
  std::vector<std::string> urls(kUploads);
  std::vector<char> ok(kUploads, 0);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < kUploads; ++i) {
    contents.push_back(orca_test::GeneratedBytes(i, 0, 12 * kMiB + i));
    const std::string path = Write("file" + std::to_string(i), contents.back());
    threads.emplace_back([&, i, path] {
      CObjectClient copy(client_);  // copies share one configuration and error state
      ok[i] = copy.UploadFile(urls[i], path);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t i = 0; i < kUploads; ++i) {
    ASSERT_TRUE(ok[i]) << i;
    EXPECT_TRUE(Stored(urls[i]) == contents[i]) << i;
  }
  EXPECT_EQ(std::set<std::string>(urls.begin(), urls.end()).size(), kUploads);
  EXPECT_EQ(emulator_.OpenUploads(), 0u);
}

// Outcomes are the fault matrix's; here the attempts at the failing part.
TEST_F(UploadE2eTest, PartTaskTriesThreeTimes) {
  const std::string path = Write("parts.bin", orca_test::GeneratedBytes(1, 0, 11 * kMiB));
  for (const int failures : {1, 3}) {
    SCOPED_TRACE(failures);
    emulator_.ClearJournal();
    AddFault(R"("kind":"status","role":"node","path":"*&part_number=3","status":500,"count":)" +
             std::to_string(failures));
    std::string url;
    EXPECT_EQ(client_.UploadFile(url, path), failures < 3);
    const std::vector<size_t> parts = PartsSent();
    EXPECT_EQ(std::count(parts.begin(), parts.end(), size_t{3}), std::min(failures + 1, 3));
    EXPECT_EQ(SentTo("upload").back().query.rfind("upload_id=", 0) == 0, failures < 3)
        << "a completion only after every part";
  }
}

// Sends a record that names part 3 into a throw, from the worker that logs it.
void ThrowOnPartThree(int /*level*/, const char* /*module*/, const char* message,
                      void* /*context*/) {
  if (std::strstr(message, "send url[") != nullptr &&
      std::strstr(message, "&part_number=3]") != nullptr) {
    throw std::runtime_error("injected");
  }
}

// A part task that throws fails its part, and with it the upload, instead of
// leaving the upload waiting for a part that never finishes; a pool that
// cannot start fails the upload with code 3.
TEST_F(UploadE2eTest, PartTaskThatThrowsOrPoolThatCannotStartFailsTheUpload) {
  const std::string path = Write("throws.bin", orca_test::GeneratedBytes(2, 0, 11 * kMiB));
  std::string url;
  SetLogSink(&ThrowOnPartThree, nullptr);
  EXPECT_FALSE(client_.UploadFile(url, path));
  orca_test::InstallGuardSink();
  EXPECT_EQ(
      LastError(),
      std::make_pair(5, std::string("UploadPartObject part[3] failed, exception[injected].")));

  // No thread can get its stack while this default holds.
  emulator_.ClearJournal();
  pthread_attr_t saved;
  ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
  pthread_attr_t huge_stacks;
  pthread_attr_init(&huge_stacks);
  pthread_attr_setstacksize(&huge_stacks, size_t{1} << 46);
  ASSERT_EQ(pthread_setattr_default_np(&huge_stacks), 0);
  const bool uploaded = client_.UploadFile(url, path);
  pthread_setattr_default_np(&saved);
  EXPECT_FALSE(uploaded);
  EXPECT_EQ(LastError(), std::make_pair(3, "start upload pool for file[" + path + "] failed."));
  EXPECT_EQ(PartsSent().size(), 0u);
}

TEST_F(UploadE2eTest, ObjectKeyKeepsTheFileExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"Movie.MP4", "\\.MP4"}, {"archive.tar.gz", "\\.gz"},  {"a.b/c", ""},
      {"x.d\\readme", ""},     {"win\\photo.png", "\\.png"}, {"noext", ""},
  };
  for (const auto& [name, extension] : cases) {
    SCOPED_TRACE(name);
    std::string url;
    ASSERT_TRUE(client_.UploadFile(url, Write(name, "x")));
    EXPECT_THAT(
        url, ::testing::MatchesRegex(std::string("/pool1/") + orca_test::kGuidPattern + extension));
  }
}

TEST_F(UploadE2eTest, RefusedBeforeAnyRequest) {
  const std::string huge = Write("huge.bin", "");
  std::filesystem::resize_file(huge, uint64_t{4096} * kMiB);  // sparse
  const std::string missing = Path("missing.bin");
  const struct {
    std::string path;
    int32_t code;
    std::string message;
    std::vector<int32_t> progress;  // a call that got past the open reports 100
  } cases[] = {
      {"", 2, "file path is empty.", {}},
      {missing, 3, "open file[" + missing + "] failed[2].", {}},
      {Path(""), 3, "open file[" + Path("") + "] failed[21].", {}},
      {huge, 3, "file[" + huge + "] size[4294967296] too large, 4 GiB or more.", {100}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::string url = "untouched";
    EXPECT_FALSE(client_.UploadFile(url, c.path));
    EXPECT_EQ(url, "untouched");
    EXPECT_EQ(LastError(), std::make_pair(c.code, c.message));
    EXPECT_EQ(TakeProgress(), c.progress);
  }
  EXPECT_TRUE(emulator_.Journal().empty());
  EXPECT_FALSE(std::filesystem::exists(missing)) << "a mistyped path must not be created";
}

TEST_F(UploadE2eTest, FileShorterThanItsSizeIsNotUploaded) {
  // sysfs files claim a page but hold a few bytes: the read comes up short.
  const std::string path = "/sys/kernel/profiling";
  std::error_code error;
  if (std::filesystem::file_size(path, error) != 4096) GTEST_SKIP() << "no sysfs";
  std::string url;
  EXPECT_FALSE(client_.UploadFile(url, path));
  EXPECT_EQ(LastError(), std::make_pair(3, "fread file[" + path + "] failed[61]."));  // ENODATA
  EXPECT_TRUE(SentTo("node").empty());
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
