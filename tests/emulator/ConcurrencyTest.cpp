// Many clients at once: parallel multipart uploads, each with its parts in
// flight side by side, while idle keep-alive connections hold their workers.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "RawClient.h"

namespace orca_test {
namespace {

constexpr int kUploads = 8;
constexpr uint32_t kParts = 4;
constexpr size_t kPartSize = 128 << 10;

std::string PartOf(int upload, uint32_t number) {
  return GeneratedBytes(static_cast<uint64_t>(upload) * 100 + number, 0, kPartSize);
}

void UploadInParallel(const Emulator& emulator, int upload) {
  const std::string key = "parallel-" + std::to_string(upload) + ".bin";
  ObjectSession session(emulator);
  const std::string id = session.Initiate(key);
  ASSERT_FALSE(id.empty());
  std::vector<std::thread> parts;
  for (uint32_t number = 1; number <= kParts; ++number) {
    parts.emplace_back([&emulator, &key, &id, upload, number] {
      ObjectSession own(emulator);
      const auto result = own.PutPart(key, id, number, PartOf(upload, number));
      ASSERT_TRUE(result);
      EXPECT_EQ(result->status, 200) << result->body;
    });
  }
  for (auto& part : parts) {
    part.join();
  }
  std::vector<std::pair<uint32_t, size_t>> list;
  std::string expected;
  for (uint32_t number = 1; number <= kParts; ++number) {
    list.emplace_back(number, kPartSize);
    expected += PartOf(upload, number);
  }
  const auto done = session.Complete(key, id, ObjectSession::CompletionDocument(list));
  ASSERT_TRUE(done);
  ASSERT_EQ(done->status, 200) << done->body;
  const auto got = session.Get(key);
  ASSERT_TRUE(got);
  EXPECT_TRUE(got->body == expected) << "upload " << upload << " differs";
}

TEST(ConcurrencyTest, ServesParallelMultipartUploadsBesideIdleConnections) {
  Emulator emulator;
  std::vector<std::unique_ptr<httplib::Client>> idle;
  for (const int port : {emulator.endpoints().upload, emulator.endpoints().nodes[0],
                         emulator.endpoints().nodes[1], emulator.endpoints().download}) {
    for (int i = 0; i < 8; ++i) {
      idle.push_back(std::make_unique<httplib::Client>("127.0.0.1", port));
      idle.back()->set_keep_alive(true);
      ASSERT_TRUE(idle.back()->Get("/pool1/idle"));
    }
  }
  std::vector<std::thread> uploads;
  uploads.reserve(kUploads);
  for (int upload = 0; upload < kUploads; ++upload) {
    uploads.emplace_back(UploadInParallel, std::cref(emulator), upload);
  }
  for (auto& upload : uploads) {
    upload.join();
  }
  EXPECT_EQ(emulator.Objects("pool1").size(), static_cast<size_t>(kUploads));
  EXPECT_EQ(emulator.OpenUploads(), 0u);
  for (auto& client : idle) {
    EXPECT_TRUE(client->Get("/pool1/idle")) << "idle connections stay usable";
  }
}

}  // namespace
}  // namespace orca_test
