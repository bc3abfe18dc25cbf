// Downloads to a file against the emulator: streamed over HTTP, metadata
// then 1 MiB ranges over HTTPS, progress, redirects on both paths, objects
// past 2 GiB and the memory a large download takes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "DownloadFixture.h"

namespace orca_test {
namespace {

using ::testing::SizeIs;

struct SizeCase {
  uint64_t size;
  bool generated;  // else random bytes stored through an upload
  bool old_file;   // a longer file is there before the download
  size_t ranges;   // GETs with a Range header over HTTPS
  const char* first_range;
  const char* last_range;
};

// Over HTTP every size streams; over HTTPS objects of 10 MiB and more come
// in ranges whose texts share their boundaries.
const SizeCase kSizes[] = {
    {0, false, false, 0, "", ""},
    {1, false, true, 0, "", ""},
    {10 * kMiB - 1, false, true, 0, "", ""},
    {10 * kMiB, true, false, 10, "bytes=0-1048576", "bytes=9437184-10485760"},
    {10 * kMiB + 1, true, true, 11, "bytes=0-1048576", "bytes=10485760-10485761"},
    {50 * kMiB, true, false, 50, "bytes=0-1048576", "bytes=51380224-52428800"},
};

std::string RandomBytes(size_t size, uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

class DownloadSizesTest : public DownloadToFileTest {
 protected:
  // Downloads every size case: the file is exactly the object, the requests
  // are those of the path, progress rises strictly to 100 (once per range
  // when ranged).
  void DownloadEverySize(bool https) {
    Start(https);
    for (const SizeCase& c : kSizes) {
      SCOPED_TRACE(std::to_string(c.size) + " bytes");
      const std::string object =
          c.generated ? GeneratedBytes(c.size, 0, c.size) : RandomBytes(c.size, c.size);
      const std::string url = c.generated ? GeneratedUrl(c.size, c.size) : Upload(object);
      // Local paths are UTF-8.
      const std::string path = LocalPath("objet-\u00e9t\u00e9-" + std::to_string(c.size));
      if (c.old_file) WriteFile(path, std::string(c.size + 1000, 'x'));
      emulator_->ClearJournal();
      percents_.clear();

      ASSERT_TRUE(client_->DownloadFile(url, path));
      EXPECT_TRUE(ReadFile(path) == object);
      CheckRequests(https, c);
      if (c.size > 0) {
        ASSERT_FALSE(percents_.empty());
        EXPECT_GT(percents_.front(), 0);
        EXPECT_EQ(percents_.back(), 100);
        EXPECT_EQ(std::adjacent_find(percents_.begin(), percents_.end(), std::greater_equal<>()),
                  percents_.end());
        EXPECT_TRUE(!https || c.ranges == 0 || percents_.size() == c.ranges);
      }
    }
  }

  void CheckRequests(bool https, const SizeCase& c) {
    size_t metadata = 0;
    for (const EmulatorRequest& request : emulator_->Journal()) {
      metadata += request.query == "metadata" ? 1 : 0;
    }
    EXPECT_EQ(metadata, https ? 1u : 0u);
    const std::vector<EmulatorRequest> gets = ObjectGets("download");
    if (!https || c.ranges == 0) {
      ASSERT_THAT(gets, SizeIs(1));
      EXPECT_EQ(gets[0].Header("Range"), "");
      return;
    }
    ASSERT_THAT(gets, SizeIs(c.ranges));
    EXPECT_EQ(gets.front().Header("Range"), c.first_range);
    EXPECT_EQ(gets[1].Header("Range"), "bytes=1048576-2097152");
    EXPECT_EQ(gets.back().Header("Range"), c.last_range);
  }
};

TEST_F(DownloadSizesTest, StreamedOverHttp) { DownloadEverySize(false); }

TEST_F(DownloadSizesTest, MetadataThenRangesOverHttps) { DownloadEverySize(true); }

TEST_F(DownloadToFileTest, StreamedRedirectKeepsTheObjectUrl) {
  Start(false);
  const std::string url = GeneratedUrl(kMiB, 6);
  AddFaultJson(R"({"kind":"bad_location","role":"download","location":")" + NodeBase() +
               R"(/pool1/elsewhere.bin"})");
  const std::string path = LocalPath("kept");
  ASSERT_TRUE(client_->DownloadFile(url, path));
  EXPECT_TRUE(ReadFile(path) == GeneratedBytes(6, 0, kMiB));
  const std::vector<EmulatorRequest> first = ObjectGets("download");
  const std::vector<EmulatorRequest> node = ObjectGets("node");
  ASSERT_THAT(first, SizeIs(1));
  ASSERT_THAT(node, SizeIs(1));
  EXPECT_EQ(node[0].path, url);
  // The Host stays the configured address, as on every request.
  EXPECT_EQ(node[0].Header("Host"), first[0].Header("Host"));
}

TEST_F(DownloadToFileTest, RangedRedirectsUseTheLocationPath) {
  // Every range is redirected to a node: the first to another object's path.
  Start(true, "always");
  const std::string url = GeneratedUrl(10 * kMiB, 8);
  const std::string other = GeneratedUrl(10 * kMiB, 9);
  AddFaultJson(R"({"kind":"bad_location","role":"download","path":"*.bin","location":")" +
               NodeBase() + other + R"("})");
  const std::string path = LocalPath("mixed");
  ASSERT_TRUE(client_->DownloadFile(url, path));

  const std::vector<EmulatorRequest> first = ObjectGets("download");
  const std::vector<EmulatorRequest> node = ObjectGets("node");
  ASSERT_THAT(first, SizeIs(10));
  ASSERT_THAT(node, SizeIs(10));
  for (size_t i = 0; i < node.size(); ++i) {
    EXPECT_EQ(node[i].path, i == 0 ? other : url);
    EXPECT_EQ(node[i].Header("Range"), first[i].Header("Range"));
  }
  // The first slice comes from the other object, the rest from this one.
  const std::optional<std::string> file = ReadFile(path);
  ASSERT_TRUE(file.has_value());
  ASSERT_EQ(file->size(), 10 * kMiB);
  EXPECT_TRUE(file->substr(0, kMiB) == GeneratedBytes(9, 0, kMiB));
  EXPECT_TRUE(file->substr(kMiB) == GeneratedBytes(8, kMiB, 9 * kMiB));
}

TEST_F(DownloadToFileTest, ObjectPastTwoGiBOverHttps) {
  // 2050 ranges; offsets past 2^31 only come out right with 64-bit arithmetic.
  constexpr uint64_t kSize = (uint64_t{2048} + 1) * kMiB + 5;
  Start(true);
  const std::string path = LocalPath("big");
  ASSERT_TRUE(client_->DownloadFile(GeneratedUrl(kSize, 10), path));
  ASSERT_EQ(std::filesystem::file_size(path), kSize);

  const std::vector<EmulatorRequest> gets = ObjectGets("download");
  ASSERT_THAT(gets, SizeIs(2050));
  EXPECT_EQ(gets[2048].Header("Range"), "bytes=2147483648-2148532224");
  EXPECT_EQ(gets.back().Header("Range"), "bytes=2148532224-2148532229");

  // Samples across the 2 GiB boundary and at the end.
  std::ifstream in(path, std::ios::binary);
  for (const uint64_t at : {uint64_t{0}, (uint64_t{1} << 31) - 4096, kSize - 4096}) {
    SCOPED_TRACE(at);
    std::string got(std::min<uint64_t>(8192, kSize - at), '\0');
    in.seekg(static_cast<std::streamoff>(at));
    in.read(got.data(), static_cast<std::streamsize>(got.size()));
    EXPECT_EQ(got, GeneratedBytes(10, at, got.size()));
  }
}

// VmHWM of /proc/self/status, in KiB.
long PeakRssKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

TEST_F(DownloadToFileTest, OneGiBStreamedKeepsMemoryBounded) {
  Start(false);
  const std::string url = GeneratedUrl(1024 * kMiB, 11);
  const std::string path = LocalPath("gib");
  // In a child process of its own, where nothing else raises the peak.
  EXPECT_EXIT(
      {
        Orca::CloudStorage::CObjectClient client(emulator_->ObjectConfig());
        const long before = PeakRssKib();
        const bool ok = client.DownloadFile(url, path);
        const long growth_kib = PeakRssKib() - before;
        std::fprintf(stderr, "ok=%d peak growth %ld KiB\n", ok ? 1 : 0, growth_kib);
        std::_Exit(ok && before > 0 && growth_kib < 64 * 1024 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(std::filesystem::file_size(path), 1024 * kMiB);
}

}  // namespace
}  // namespace orca_test
