// One client shared by eight threads, over HTTP and HTTPS (also run under
// ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "E2eUtil.h"

namespace Orca {
namespace CloudStorage {
namespace {

using ObjectThreadsTest = orca_test::ProtocolTest;

TEST_P(ObjectThreadsTest, EightThreadsShareOneClient) {
  CObjectClient client(emulator_.ObjectConfig());
  std::atomic<int> verified{0};
  std::vector<std::thread> threads;
  threads.reserve(8);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) {
        const std::string data = orca_test::GeneratedBytes(t * 100 + i, 0, 1000 + 97 * t + i);
        std::string url;
        std::string back;
        if (client.UploadFile(url, data.data(), static_cast<uint32_t>(data.size())) &&
            orca_test::Fetch(client, url, back) && back == data && client.RemoveFileByUrl(url)) {
          ++verified;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(verified.load(), 40);
}

INSTANTIATE_TEST_SUITE_P(Protocols, ObjectThreadsTest, ::testing::Bool(), orca_test::ProtocolName);

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
