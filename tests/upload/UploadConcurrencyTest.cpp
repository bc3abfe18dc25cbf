// Four whole-file uploads at once on one shared client: each has its own
// pool, protocol client and upload id, and they meet in the registry and
// the error state. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "UploadTestUtil.h"

namespace Orca {
namespace CloudStorage {
namespace {

using UploadConcurrencyTest = orca_test::UploadTest;

TEST_F(UploadConcurrencyTest, FourFileUploadsOnOneClient) {
  constexpr size_t kUploads = 4;
  std::vector<std::string> contents;
  std::vector<std::string> urls(kUploads);
  std::vector<char> ok(kUploads, 0);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < kUploads; ++i) {
    contents.push_back(orca_test::GeneratedBytes(i, 0, 12 * orca_test::kMiB + i));
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

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
