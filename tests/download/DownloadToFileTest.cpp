// Downloads to a file against the emulator: streamed over HTTP, metadata
// then 1 MiB ranges over HTTPS, progress, redirects on both paths, objects
// past 2 GiB, the memory a large download takes, and the failures the fault
// matrix does not look at.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Emulator.h"
#include "OrcaCloudStorage/StorageClient.h"
#include "PeakRss.h"

namespace orca_test {
namespace {

using ::testing::SizeIs;

constexpr uint64_t kMiB = uint64_t{1024} * 1024;

// Nothing when the file cannot be read.
std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Requests in the order of their Range header's first offset ("bytes=FIRST-").
std::vector<EmulatorRequest> ByRange(std::vector<EmulatorRequest> requests) {
  const auto start = [](const EmulatorRequest& request) {
    const std::string range = request.Header("Range");
    return range.empty() ? 0 : std::stoull(range.substr(6));
  };
  std::sort(requests.begin(), requests.end(),
            [&](const auto& a, const auto& b) { return start(a) < start(b); });
  return requests;
}

class DownloadToFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(::mkdtemp(dir_.data()), nullptr); }
  void TearDown() override {
    client_.reset();
    emulator_.reset();
    std::filesystem::remove_all(dir_);
  }

  // Starts the emulator and a client of "pool1" whose progress reports,
  // carrying user data 77, go to percents_. Over HTTPS the client trusts
  // the emulator's CA.
  void Start(bool https, const std::string& redirect = "off") {
    EmulatorOptions options;
    options.https = https;
    options.redirect = redirect;
    emulator_ = std::make_unique<Emulator>(options);
    if (https) ::setenv("ORCA_CS_CA_BUNDLE", emulator_->ca_bundle().c_str(), 1);
    Orca::CloudStorage::SStorageServerConfig config = emulator_->ObjectConfig();
    config.user_data = 77;
    config.progress_callback = [this](const Orca::CloudStorage::SProgressInfo& info) {
      EXPECT_EQ(info.user_data, 77u);
      EXPECT_EQ(info.reserved, 0u);
      percents_.push_back(info.percent);
    };
    client_ = std::make_unique<Orca::CloudStorage::CObjectClient>(config);
  }
  std::string LocalPath(const std::string& name) const { return dir_ + "/" + name; }
  // "scheme://address:port" of the first data node.
  std::string NodeBase() const {
    return std::string(emulator_->https() ? "https://" : "http://") +
           emulator_->endpoints().address + ":" +
           std::to_string(emulator_->endpoints().nodes.front());
  }
  // Journal entries of object GETs without a query that reached `role`.
  std::vector<EmulatorRequest> ObjectGets(const std::string& role) {
    std::vector<EmulatorRequest> gets;
    for (EmulatorRequest& request : emulator_->Journal()) {
      if (request.role == role && request.method == "GET" && request.query.empty()) {
        gets.push_back(std::move(request));
      }
    }
    return gets;
  }
  // Adds a fault rule given as a JSON document of the admin API.
  void AddFault(const std::string& json) {
    std::string body;
    ASSERT_EQ(emulator_->Admin("POST", "/faults", json, &body), 200) << body;
  }

  std::unique_ptr<Emulator> emulator_;
  std::unique_ptr<Orca::CloudStorage::CObjectClient> client_;
  std::vector<int32_t> percents_;
  std::string dir_ = std::filesystem::temp_directory_path().string() + "/orca-dl-XXXXXX";
};

struct SizeCase {
  uint64_t size;
  bool old_file;  // a longer file is there before the download
  size_t ranges;  // GETs with a Range header over HTTPS
  const char* first_range;
  const char* last_range;
};

// Over HTTP every size streams; over HTTPS objects of 10 MiB and more come
// in ranges whose texts share their boundaries.
const SizeCase kSizes[] = {
    {0, false, 0, "", ""},
    {1, true, 0, "", ""},
    {10 * kMiB - 1, true, 0, "", ""},
    {10 * kMiB, false, 10, "bytes=0-1048576", "bytes=9437184-10485760"},
    {10 * kMiB + 1, true, 11, "bytes=0-1048576", "bytes=10485760-10485761"},
    {50 * kMiB, false, 50, "bytes=0-1048576", "bytes=51380224-52428800"},
};

class DownloadSizesTest : public DownloadToFileTest, public ::testing::WithParamInterface<bool> {};

// Every size case: the file is exactly the object, the requests are those
// of the path (the ranges in any order), progress rises strictly to 100.
TEST_P(DownloadSizesTest, FileIsExactlyTheObject) {
  const bool https = GetParam();
  Start(https);
  for (const SizeCase& c : kSizes) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes");
    // Local paths are UTF-8.
    const std::string path = LocalPath("objet-\u00e9t\u00e9-" + std::to_string(c.size));
    if (c.old_file) std::ofstream(path) << std::string(c.size + 1000, 'x');
    emulator_->ClearJournal();
    percents_.clear();

    ASSERT_TRUE(client_->DownloadFile(GeneratedUrl(c.size, c.size), path));
    EXPECT_TRUE(ReadFile(path) == GeneratedBytes(c.size, 0, c.size));
    const std::vector<EmulatorRequest> journal = emulator_->Journal();
    EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                            [](const auto& request) { return request.query == "metadata"; }),
              https ? 1 : 0);
    const std::vector<EmulatorRequest> gets = ByRange(ObjectGets("download"));
    const bool ranged = https && c.ranges > 0;
    ASSERT_THAT(gets, SizeIs(ranged ? c.ranges : 1));
    EXPECT_EQ(gets.front().Header("Range"), ranged ? c.first_range : "");
    EXPECT_EQ(gets.back().Header("Range"), ranged ? c.last_range : "");
    if (ranged) {
      EXPECT_EQ(gets[1].Header("Range"), "bytes=1048576-2097152");
    }
    if (c.size > 0) {
      ASSERT_FALSE(percents_.empty());
      EXPECT_GT(percents_.front(), 0);
      EXPECT_EQ(percents_.back(), 100);
      EXPECT_EQ(std::adjacent_find(percents_.begin(), percents_.end(), std::greater_equal<>()),
                percents_.end());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(StreamedOverHttpRangedOverHttps, DownloadSizesTest, ::testing::Bool());

TEST_F(DownloadToFileTest, StreamedRedirectKeepsTheObjectUrl) {
  Start(false);
  const std::string url = GeneratedUrl(kMiB, 6);
  AddFault(R"({"kind":"bad_location","role":"download","location":")" + NodeBase() +
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
  // One range at a time, so that the first is the one redirected elsewhere.
  Start(true, "always");
  ASSERT_TRUE(client_->SetTransferConcurrency(1));
  const std::string url = GeneratedUrl(10 * kMiB, 8);
  const std::string other = GeneratedUrl(10 * kMiB, 9);
  AddFault(R"({"kind":"bad_location","role":"download","path":"*.bin","location":")" + NodeBase() +
           other + R"("})");
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
  EXPECT_TRUE(ReadFile(path) == GeneratedBytes(9, 0, kMiB) + GeneratedBytes(8, kMiB, 9 * kMiB));
}

TEST_F(DownloadToFileTest, ObjectPastTwoGiBOverHttps) {
  // 2050 ranges; offsets past 2^31 only come out right with 64-bit arithmetic.
  constexpr uint64_t kSize = (uint64_t{2048} + 1) * kMiB + 5;
  Start(true);
  const std::string path = LocalPath("big");
  ASSERT_TRUE(client_->DownloadFile(GeneratedUrl(kSize, 10), path));
  ASSERT_EQ(std::filesystem::file_size(path), kSize);

  const std::vector<EmulatorRequest> gets = ByRange(ObjectGets("download"));
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

// Downloads `url` into `path` with `client` in a child process of its own,
// where nothing else raises the peak: the peak memory grows by less than
// `limit_mib`, whatever the object's size.
void ExpectDownloadWithinMemory(const Orca::CloudStorage::CObjectClient& client,
                                const std::string& url, const std::string& path, long limit_mib) {
  EXPECT_EXIT(
      {
        Orca::CloudStorage::CObjectClient copy(client);
        const long before = PeakRssKib();
        const bool ok = copy.DownloadFile(url, path);
        const long growth_kib = PeakRssKib() - before;
        std::fprintf(stderr, "ok=%d peak growth %ld KiB\n", ok ? 1 : 0, growth_kib);
        std::_Exit(ok && before > 0 && growth_kib < limit_mib * 1024 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(DownloadToFileTest, OneGiBStreamedKeepsMemoryBounded) {
  Start(false);
  const std::string path = LocalPath("gib");
  ExpectDownloadWithinMemory(*client_, GeneratedUrl(1024 * kMiB, 11), path, 64);
  EXPECT_EQ(std::filesystem::file_size(path), 1024 * kMiB);
}

TEST_F(DownloadToFileTest, RangesInFlightKeepMemoryBounded) {
  Start(true);
  ASSERT_TRUE(client_->SetTransferConcurrency(16));
  // Sixteen rooms of 1 MiB and a byte, sixteen TLS connections and their
  // buffers: far less than the object.
  const std::string path = LocalPath("ranged");
  ExpectDownloadWithinMemory(*client_, GeneratedUrl(256 * kMiB, 12), path, 112);
  EXPECT_EQ(std::filesystem::file_size(path), 256 * kMiB);
}

// A range answer must hold its slice, and at most the boundary byte the
// range text names beyond it: one byte short fails, and so does a server
// that ignores the Range (its first bytes are not the slice).
TEST_F(DownloadToFileTest, RangeAnswerOfTheWrongLengthFails) {
  Start(true);
  ASSERT_TRUE(client_->SetTransferConcurrency(1));  // the fault meets the first range
  const std::string url = GeneratedUrl(12 * kMiB, 31);
  const struct {
    const char* fault;    // on the first range
    const char* message;  // "": the download succeeds
  } cases[] = {
      {R"("kind":"trim_body","size":1)", ""},
      {R"("kind":"trim_body","size":2)",
       "DownloadObject rsp body short[1048575 of 1048576 bytes]."},
      {R"("kind":"ignore_range")",
       "DownloadObject rsp range[0-1048576] body too long[12582912 bytes for a slice of 1048576]."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    emulator_->ClearFaults();
    AddFault(R"({"role":"download","path":"*.bin",)" + std::string(c.fault) + "}");
    const std::string path = LocalPath("ranges");
    const bool ok = client_->DownloadFile(url, path);
    EXPECT_EQ(ok, *c.message == '\0');
    if (ok) {
      EXPECT_TRUE(ReadFile(path) == GeneratedBytes(31, 0, 12 * kMiB));
      continue;
    }
    int32_t code = 0;
    std::string message;
    client_->GetLastError(code, message);
    EXPECT_EQ(code, 5);
    EXPECT_EQ(message, c.message);
  }
}

// A missing object on either path, and local files that cannot be opened,
// written or shared. Local failures travel as subcodes.
TEST_F(DownloadToFileTest, FailuresRecordCodeAndSubcode) {
  // Whoever holds a file exclusively (another download) keeps this one out.
  const std::string locked = LocalPath("locked");
  std::ofstream(locked) << "held";
  const int fd = ::open(locked.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  const std::string missing_dir = LocalPath("no-such-dir/object");
  const std::string no_such_key = R"("kind":"status","status":404,"body":"<Code>NoSuchKey</Code>")";
  const struct {
    bool https;
    std::string path;
    std::string fault;  // on the object's GETs
    int32_t code;
    int32_t subcode;
    const char* message;  // "": the message names the subcode
  } cases[] = {
      {false, LocalPath("a"), no_such_key, 5, 404, "DownloadBigObject rsp status code[404]."},
      {true, LocalPath("b"), no_such_key, 9, 0, "NoSuchKey"},
      {false, missing_dir, "", 5, 1000000 + ENOENT, ""},
      {true, missing_dir, "", 3, 1000000 + ENOENT, ""},
      {false, "/dev/full", "", 3, -1002, ""},
      {true, "/dev/full", "", 3, -1002, ""},
      {false, locked, "", 5, 1000000 + EWOULDBLOCK, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + (c.https ? " ranged" : " streamed"));
    Start(c.https);
    if (!c.fault.empty()) AddFault(R"({"role":"download","path":"*.bin",)" + c.fault + "}");
    ASSERT_FALSE(client_->DownloadFile(GeneratedUrl((c.https ? 12 : 4) * kMiB, 21), c.path));
    int32_t code = 0;
    int32_t subcode = 0;
    std::string message;
    client_->GetLastError(code, subcode, message);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(subcode, c.subcode);
    EXPECT_EQ(message, *c.message != '\0' ? c.message
                                          : "DownloadBigObject rsp status code[" +
                                                std::to_string(c.subcode) + "].");
  }
  ::close(fd);
  EXPECT_EQ(ReadFile(locked), "held");
}

}  // namespace
}  // namespace orca_test
