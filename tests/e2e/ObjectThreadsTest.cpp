// One client shared by eight threads, over HTTP and HTTPS (also run under
// ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "E2eUtil.h"
#include "OrcaCloudStorage/StorageClient.h"

namespace Orca {
namespace CloudStorage {
namespace {

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  return out;
}

bool Fetch(CObjectClient& client, const std::string& url, std::string& data) {
  char* buffer = nullptr;
  uint32_t length = 0;
  if (!client.DownloadFile(&buffer, length, url)) return false;
  data.assign(buffer, length);
  delete[] buffer;
  return true;
}

class ObjectE2eTest : public ::testing::TestWithParam<bool> {
 protected:
  ObjectE2eTest() : emulator_(orca_test::SharedEmulator::Get(GetParam())) {}

  orca_test::Emulator& emulator_;
  CObjectClient client_{emulator_.ObjectConfig()};
};

TEST_P(ObjectE2eTest, EightThreadsShareOneClient) {
  std::atomic<int> verified{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) {
        const std::string data = RandomBytes(1000 + 97 * t + i, t * 100 + i);
        std::string url;
        std::string back;
        if (client_.UploadFile(url, data.data(), static_cast<uint32_t>(data.size())) &&
            Fetch(client_, url, back) && back == data && client_.RemoveFileByUrl(url)) {
          ++verified;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(verified.load(), 40);
}

INSTANTIATE_TEST_SUITE_P(Protocols, ObjectE2eTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& protocol) {
                           return orca_test::ProtocolName(protocol.param);
                         });

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
