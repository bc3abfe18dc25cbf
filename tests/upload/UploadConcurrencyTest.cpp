// Four whole-file uploads at once on one shared client: each has its own
// pool, protocol client and upload id, and they meet in the registry and
// the error state. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "OrcaCloudStorage/StorageClient.h"
#include "UploadTestUtil.h"

namespace Orca {
namespace CloudStorage {
namespace {

TEST(UploadConcurrencyTest, FourFileUploadsOnOneClient) {
  orca_test::Emulator emulator;
  orca_test::TempDir dir;
  orca_test::ProgressLog progress;
  SStorageServerConfig config = emulator.ObjectConfig();
  config.progress_callback = progress.Callback();
  CObjectClient client(config);

  constexpr int kUploads = 4;
  std::vector<std::string> contents;
  std::vector<std::string> paths;
  for (int i = 0; i < kUploads; ++i) {
    contents.push_back(orca_test::RandomBytes(12 * orca_test::kMiB + i, 100 + i));
    paths.push_back(dir.Write("file" + std::to_string(i) + ".bin", contents.back()));
  }
  std::vector<std::string> urls(kUploads);
  std::vector<char> ok(kUploads, 0);
  std::vector<std::thread> threads;
  threads.reserve(kUploads);
  for (int i = 0; i < kUploads; ++i) {
    threads.emplace_back([&, i] {
      CObjectClient copy(client);  // copies share one configuration and error state
      ok[i] = copy.UploadFile(urls[i], paths[i]);
    });
  }
  for (std::thread& thread : threads) thread.join();

  for (int i = 0; i < kUploads; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(ok[i]);
    char* buffer = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(client.DownloadFile(&buffer, length, urls[i]));
    EXPECT_EQ(orca_test::Sha256Hex(std::string(buffer, length)), orca_test::Sha256Hex(contents[i]));
    delete[] buffer;
  }
  EXPECT_EQ(std::set<std::string>(urls.begin(), urls.end()).size(), 4u);
  EXPECT_EQ(emulator.OpenUploads(), 0u);
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
