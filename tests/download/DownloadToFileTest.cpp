// Downloads to a file against the emulator: streamed over HTTP, metadata
// then 1 MiB ranges over HTTPS, redirects on both paths, progress, objects
// past 2 GiB and the memory a large download takes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "DownloadFixture.h"

namespace orca_test {
namespace {

using ::testing::ElementsAre;
using ::testing::SizeIs;

EmulatorOptions Options(bool https, const std::string& redirect = "off") {
  EmulatorOptions options;
  options.https = https;
  options.redirect = redirect;
  return options;
}

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
    {0, false, true, 0, "", ""},
    {1, false, false, 0, "", ""},
    {10 * kMiB - 1, false, true, 0, "", ""},
    {10 * kMiB, true, false, 10, "bytes=0-1048576", "bytes=9437184-10485760"},
    {10 * kMiB + 1, true, true, 11, "bytes=0-1048576", "bytes=10485760-10485761"},
    {50 * kMiB, true, false, 50, "bytes=0-1048576", "bytes=51380224-52428800"},
};

class DownloadSizesTest : public DownloadToFileTest {
 protected:
  // Downloads every size case and checks the file against the object.
  void DownloadEverySize(bool https) {
    Start(Options(https));
    for (const SizeCase& c : kSizes) {
      SCOPED_TRACE(std::to_string(c.size) + " bytes");
      std::string url;
      std::string digest;
      if (c.generated) {
        url = GeneratedUrl(c.size, c.size);
        digest = GeneratedSha256Hex(c.size, c.size);
      } else {
        const std::string bytes = RandomBytes(c.size, c.size);
        url = Upload(bytes);
        digest = Sha256Hex(bytes);
      }
      // Local paths are UTF-8.
      const std::string path = LocalPath("objet-\u00e9t\u00e9-" + std::to_string(c.size));
      if (c.old_file) WriteFile(path, std::string(c.size + 1000, 'x'));
      emulator_->ClearJournal();

      ASSERT_TRUE(client_->DownloadFile(url, path));
      EXPECT_EQ(std::filesystem::file_size(path), c.size);
      EXPECT_EQ(FileSha256Hex(path), digest);
      CheckRequests(https, c);
    }
  }

  void CheckRequests(bool https, const SizeCase& c) {
    EXPECT_THAT(MetadataRequests(), SizeIs(https ? 1 : 0));
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

TEST_F(DownloadToFileTest, EmptyObjectCreatesAnEmptyFile) {
  Start({});
  const std::string path = LocalPath("empty");
  ASSERT_TRUE(client_->DownloadFile(Upload(""), path));
  ASSERT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST_F(DownloadToFileTest, RangedProgressReportsOncePerRange) {
  Start(Options(true));
  ASSERT_TRUE(client_->DownloadFile(GeneratedUrl(10 * kMiB, 3), LocalPath("ten")));
  EXPECT_THAT(percents_, ElementsAre(10, 20, 30, 40, 50, 60, 70, 80, 90, 100));
}

TEST_F(DownloadToFileTest, StreamedProgressRisesStrictlyToHundred) {
  Start({});
  ASSERT_TRUE(client_->DownloadFile(GeneratedUrl(20 * kMiB, 4), LocalPath("twenty")));
  ASSERT_FALSE(percents_.empty());
  EXPECT_GT(percents_.front(), 0);
  for (size_t i = 1; i < percents_.size(); ++i) EXPECT_LT(percents_[i - 1], percents_[i]);
  EXPECT_EQ(percents_.back(), 100);
}

TEST_F(DownloadToFileTest, StreamedRedirectGoesToTheNode) {
  for (int status : {302, 301}) {
    SCOPED_TRACE(status);
    Start(Options(false, "always"));
    emulator_->SetRedirect("always", status);
    const std::string url = GeneratedUrl(3 * kMiB, 5);
    const std::string path = LocalPath("redirected");
    ASSERT_TRUE(client_->DownloadFile(url, path));
    EXPECT_EQ(FileSha256Hex(path), GeneratedSha256Hex(3 * kMiB, 5));
    const std::vector<EmulatorRequest> first = ObjectGets("download");
    ASSERT_THAT(first, SizeIs(1));
    EXPECT_EQ(first[0].status, status);
    const std::vector<EmulatorRequest> node = ObjectGets("node");
    ASSERT_THAT(node, SizeIs(1));
    EXPECT_EQ(node[0].path, url);
    EXPECT_EQ(node[0].status, 200);
    // The Host stays the configured address, as on every request.
    EXPECT_EQ(node[0].Header("Host"), first[0].Header("Host"));
  }
}

TEST_F(DownloadToFileTest, StreamedRedirectKeepsTheObjectUrlWithoutTimeouts) {
  Start({});
  const std::string url = GeneratedUrl(kMiB, 6);
  AddFaultJson(R"({"kind":"bad_location","role":"download","location":")" + NodeBase() +
               R"(/pool1/elsewhere.bin"})");
  // The redirected request must not carry these time-outs: the node answers
  // only after a pause longer than them.
  client_->SetTimeoutConfig(1000, 1000);
  EmulatorFault slow_node;
  slow_node.kind = "delay";
  slow_node.role = "node";
  slow_node.delay_ms = 2500;
  emulator_->AddFault(slow_node);

  const std::string path = LocalPath("kept");
  ASSERT_TRUE(client_->DownloadFile(url, path));
  EXPECT_EQ(FileSha256Hex(path), GeneratedSha256Hex(kMiB, 6));
  const std::vector<EmulatorRequest> node = ObjectGets("node");
  ASSERT_THAT(node, SizeIs(1));
  EXPECT_EQ(node[0].path, url);
}

TEST_F(DownloadToFileTest, RangedRedirectEveryRangeToTheNode) {
  Start(Options(true, "always"));
  const std::string url = GeneratedUrl(10 * kMiB, 7);
  const std::string path = LocalPath("ranged-redirect");
  ASSERT_TRUE(client_->DownloadFile(url, path));
  EXPECT_EQ(FileSha256Hex(path), GeneratedSha256Hex(10 * kMiB, 7));
  const std::vector<EmulatorRequest> first = ObjectGets("download");
  const std::vector<EmulatorRequest> node = ObjectGets("node");
  ASSERT_THAT(first, SizeIs(10));
  ASSERT_THAT(node, SizeIs(10));
  for (size_t i = 0; i < node.size(); ++i) {
    EXPECT_EQ(first[i].status, 302);
    EXPECT_EQ(node[i].path, url);
    EXPECT_EQ(node[i].Header("Range"), first[i].Header("Range"));
  }
}

TEST_F(DownloadToFileTest, RangedRedirectUsesTheLocationPath) {
  Start(Options(true));
  const std::string url = GeneratedUrl(10 * kMiB, 8);
  const std::string other = GeneratedUrl(10 * kMiB, 9);
  AddFaultJson(R"({"kind":"bad_location","role":"download","path":"*.bin","location":")" +
               NodeBase() + other + R"("})");
  const std::string path = LocalPath("mixed");
  ASSERT_TRUE(client_->DownloadFile(url, path));

  const std::vector<EmulatorRequest> node = ObjectGets("node");
  ASSERT_THAT(node, SizeIs(1));
  EXPECT_EQ(node[0].path, other);
  // The first slice comes from the other object, the rest from this one.
  const std::optional<std::string> file = ReadFile(path);
  ASSERT_TRUE(file.has_value());
  ASSERT_EQ(file->size(), 10 * kMiB);
  EXPECT_EQ(file->substr(0, kMiB), GeneratedBytes(9, 0, kMiB));
  EXPECT_EQ(file->substr(kMiB), GeneratedBytes(8, kMiB, 9 * kMiB));
}

TEST_F(DownloadToFileTest, ObjectPastTwoGiBOverHttps) {
  // 2050 ranges; offsets past 2^31 only come out right with 64-bit arithmetic.
  constexpr uint64_t kSize = (uint64_t{2048} + 1) * kMiB + 5;
  Start(Options(true));
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
    std::string got(8192 > kSize - at ? kSize - at : 8192, '\0');
    in.seekg(static_cast<std::streamoff>(at));
    in.read(got.data(), static_cast<std::streamsize>(got.size()));
    EXPECT_EQ(got, GeneratedBytes(10, at, got.size()));
  }
}

TEST_F(DownloadToFileTest, OneGiBStreamedKeepsMemoryBounded) {
  Start({});
  const Orca::CloudStorage::SStorageServerConfig config = emulator_->ObjectConfig();
  const std::string command = std::string(DOWNLOAD_PROBE_PATH) + " --quiet --upload-port " +
                              std::to_string(config.upload_port) + " --download-port " +
                              std::to_string(config.download_port) + " --pool " + config.pool_name +
                              " --ak " + config.ak + " --sk " + config.sk + " --url " +
                              GeneratedUrl(1024 * kMiB, 11) + " --out " + LocalPath("gib");
  std::unique_ptr<FILE, decltype(&pclose)> probe(popen(command.c_str(), "r"), pclose);
  ASSERT_NE(probe, nullptr);
  char line[512] = {};
  ASSERT_NE(std::fgets(line, sizeof line, probe.get()), nullptr);
  int ok = 0;
  unsigned long long bytes = 0;
  double seconds = 0;
  long growth_kib = -1;
  ASSERT_EQ(std::sscanf(line, "DOWNLOAD ok=%d bytes=%llu seconds=%lf peak_growth_kib=%ld", &ok,
                        &bytes, &seconds, &growth_kib),
            4)
      << line;
  EXPECT_EQ(ok, 1) << line;
  EXPECT_EQ(bytes, 1024 * kMiB);
  EXPECT_GE(growth_kib, 0);
  EXPECT_LT(growth_kib, 64 * 1024) << "peak memory grew by " << growth_kib << " KiB";
}

}  // namespace
}  // namespace orca_test
