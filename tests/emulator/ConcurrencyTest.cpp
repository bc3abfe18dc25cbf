// Parallel multipart uploads, their parts in flight side by side, while idle
// keep-alive connections hold workers; then a clean stop with them open.
// Served directly and through an emulated link.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "RawClient.h"

namespace orca_test {
namespace {

constexpr uint32_t kParts = 4;
constexpr size_t kPartSize = 128 << 10;

// One multipart upload whose parts go out side by side, each on its own connection.
void UploadInParallel(const Emulator& emulator, int upload) {
  const std::string key = "parallel-" + std::to_string(upload);
  ObjectSession session(emulator);
  const std::string id = session.Initiate(key);
  std::vector<std::thread> parts;
  for (uint32_t number = 1; number <= kParts; ++number) {
    parts.emplace_back([&emulator, &key, &id, number, upload] {
      const std::string part = GeneratedBytes(upload, (number - 1) * kPartSize, kPartSize);
      EXPECT_EQ(ObjectSession(emulator).PutPart(key, id, number, part)->status, 200);
    });
  }
  for (auto& part : parts) {
    part.join();
  }
  const auto document = ObjectSession::CompletionDocument(
      {{1, kPartSize}, {2, kPartSize}, {3, kPartSize}, {4, kPartSize}});
  EXPECT_EQ(session.Complete(key, id, document)->status, 200);
  EXPECT_TRUE(session.Get(key)->body == GeneratedBytes(upload, 0, kParts * kPartSize)) << upload;
}

class ConcurrencyTest : public ::testing::TestWithParam<bool> {};

TEST_P(ConcurrencyTest, ServesParallelMultipartUploadsBesideIdleConnections) {
  Emulator emulator(GetParam() ? WithLink({}, kShortLink) : EmulatorOptions{});
  std::vector<std::unique_ptr<httplib::Client>> idle;
  const auto& ports = emulator.endpoints();
  for (const int port : {ports.upload, ports.nodes[0], ports.nodes[1], ports.download}) {
    for (int i = 0; i < 8; ++i) {
      idle.push_back(std::make_unique<httplib::Client>("127.0.0.1", port));
      idle.back()->set_keep_alive(true);
      ASSERT_TRUE(idle.back()->Get("/pool1/idle"));  // the connection stays open
    }
  }
  std::vector<std::thread> uploads;
  uploads.reserve(8);
  for (int upload = 0; upload < 8; ++upload) {
    uploads.emplace_back(UploadInParallel, std::cref(emulator), upload);
  }
  for (auto& upload : uploads) {
    upload.join();
  }
  EXPECT_EQ(emulator.Objects("pool1").size(), uploads.size());
  EXPECT_EQ(emulator.OpenUploads(), 0u);
  for (auto& client : idle) {
    EXPECT_TRUE(client->Get("/pool1/idle")) << "idle connections stay usable";
  }
  EXPECT_EQ(emulator.Stop(), 0) << "SIGTERM stops it despite the idle connections";
}

INSTANTIATE_TEST_SUITE_P(Link, ConcurrencyTest, ::testing::Bool(), LinkCaseName);

}  // namespace
}  // namespace orca_test
