// Downloads to a file that go wrong: faults injected by the emulator on the
// streamed (HTTP) and ranged (HTTPS) paths, missing objects, unusable
// Locations, unwritable local files, and metadata answers that send the
// download down the streamed path.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "DownloadFixture.h"

namespace orca_test {
namespace {

using ::testing::SizeIs;
using ::testing::StartsWith;

constexpr uint64_t kStreamedSize = 4 * kMiB;
constexpr uint64_t kRangedSize = 12 * kMiB;
constexpr int32_t kMissingDirectory = 1000000 + ENOENT;

struct FaultCase {
  const char* name;
  const char* fault;  // a rule for the object's GETs on the download port
  int32_t code;
  const char* message;  // the message starts with this
};

class DownloadFaultTest : public DownloadToFileTest {
 protected:
  void Run(bool https, const FaultCase& c) {
    SCOPED_TRACE(c.name);
    EmulatorOptions options;
    options.https = https;
    Start(options);
    AddFaultJson(std::string(R"({"role":"download","path":"*.bin",)") + c.fault + "}");
    const std::string path = LocalPath("object");
    ASSERT_FALSE(client_->DownloadFile(url(https), path));
    int32_t code = 0;
    std::string message;
    client_->GetLastError(code, message);
    EXPECT_EQ(code, c.code);
    EXPECT_THAT(message, StartsWith(c.message));
    ExpectPrefixOfObject(path, https);
  }

  static std::string url(bool https) {
    return https ? GeneratedUrl(kRangedSize, 21) : GeneratedUrl(kStreamedSize, 22);
  }

  // A failed download leaves what was written: some first bytes of the object.
  static void ExpectPrefixOfObject(const std::string& path, bool https) {
    const std::optional<std::string> file = ReadFile(path);
    if (!file.has_value()) return;
    const uint64_t seed = https ? 21 : 22;
    EXPECT_LT(file->size(), https ? kRangedSize : kStreamedSize);
    EXPECT_EQ(*file, GeneratedBytes(seed, 0, file->size()));
  }
};

TEST_F(DownloadFaultTest, StreamedFaults) {
  const FaultCase cases[] = {
      {"reset mid-body", R"("kind":"reset_mid_body")", 4, "Send download big object msg failed["},
      {"short body", R"("kind":"short_body")", 4, "Send download big object msg failed["},
      {"reset", R"("kind":"reset")", 4, "Send download big object msg failed["},
      {"500", R"("kind":"status","status":500,"body":"oops")", 5,
       "DownloadBigObject rsp status code[500]."},
      {"wrong scheme", R"("kind":"bad_location")", 6, "redirect url error[https://"},
      {"no path", R"("kind":"bad_location","variant":"nopath")", 6, "redirect url error[http://"},
  };
  for (const FaultCase& c : cases) Run(false, c);
}

TEST_F(DownloadFaultTest, RangedFaults) {
  const FaultCase cases[] = {
      {"reset mid-body", R"("kind":"reset_mid_body")", 4, "SendObjectMsg msg failed["},
      {"short range", R"("kind":"short_body")", 5, "DownloadObject rsp body short[524288 of "},
      {"NoSuchKey", R"("kind":"status","status":404,"body":"<Code>NoSuchKey</Code>")", 9,
       "NoSuchKey"},
      {"500", R"("kind":"status","status":500,"body":"oops")", 5,
       "DownloadObject rsp status code[500]."},
      {"wrong scheme", R"("kind":"bad_location")", 6, "redirect url error[http://"},
      {"no path", R"("kind":"bad_location","variant":"nopath")", 6, "redirect url error[https://"},
  };
  for (const FaultCase& c : cases) Run(true, c);
}

TEST_F(DownloadFaultTest, MissingObjectRecordsTheStatus) {
  for (const bool https : {false, true}) {
    SCOPED_TRACE(https ? "HTTPS" : "HTTP");
    EmulatorOptions options;
    options.https = https;
    Start(options);
    // Over HTTPS the metadata request fails first and the object streams.
    ASSERT_FALSE(client_->DownloadFile("/pool1/missing.bin", LocalPath("missing")));
    ExpectLastError(5, 404, "DownloadBigObject rsp status code[404].");
    EXPECT_FALSE(std::filesystem::exists(LocalPath("missing")));
  }
}

TEST_F(DownloadFaultTest, ChunkedAndUnsizedAnswersAreWrittenWhole) {
  for (const char* fault :
       {R"("kind":"chunked")", R"("kind":"missing_header","header":"Content-Length")"}) {
    SCOPED_TRACE(fault);
    Start(EmulatorOptions());
    AddFaultJson(std::string(R"({"role":"download","path":"*.bin",)") + fault + "}");
    const std::string path = LocalPath("unsized");
    WriteFile(path, std::string(kStreamedSize + 10, 'x'));
    ASSERT_TRUE(client_->DownloadFile(url(false), path));
    EXPECT_EQ(FileSha256Hex(path), GeneratedSha256Hex(kStreamedSize, 22));
  }
}

TEST_F(DownloadFaultTest, UnusableMetadataFallsBackToStreaming) {
  const char* const faults[] = {
      R"("kind":"missing_header","header":"Object-Size")",
      R"("kind":"status","status":500,"body":"oops")",
      R"("kind":"reset")",
  };
  for (const char* fault : faults) {
    SCOPED_TRACE(fault);
    EmulatorOptions options;
    options.https = true;
    Start(options);
    AddFaultJson(std::string(R"({"path":"*?metadata",)") + fault + "}");
    const std::string path = LocalPath("fallback");
    ASSERT_TRUE(client_->DownloadFile(url(true), path));
    EXPECT_EQ(FileSha256Hex(path), GeneratedSha256Hex(kRangedSize, 21));
    const std::vector<EmulatorRequest> gets = ObjectGets("download");
    ASSERT_THAT(gets, SizeIs(1));
    EXPECT_EQ(gets[0].Header("Range"), "");
    ExpectLastError(0, 0, "");
  }
}

struct LocalFileCase {
  const char* name;
  bool https;
  std::string path;
  int32_t code;
  int32_t subcode;
};

TEST_F(DownloadFaultTest, LocalFileFailuresTravelAsSubcodes) {
  const std::string missing = LocalPath("no-such-dir/object");
  const LocalFileCase cases[] = {
      {"streamed, cannot open", false, missing, 5, kMissingDirectory},
      {"ranged, cannot open", true, missing, 3, kMissingDirectory},
      {"streamed, cannot write", false, "/dev/full", 3, -1002},
      {"ranged, cannot write", true, "/dev/full", 3, -1002},
  };
  for (const LocalFileCase& c : cases) {
    SCOPED_TRACE(c.name);
    EmulatorOptions options;
    options.https = c.https;
    Start(options);
    ASSERT_FALSE(client_->DownloadFile(url(c.https), c.path));
    ExpectLastError(c.code, c.subcode,
                    "DownloadBigObject rsp status code[" + std::to_string(c.subcode) + "].");
  }
}

TEST_F(DownloadFaultTest, EmptyLocalPathTouchesNothing) {
  Start(EmulatorOptions());
  ASSERT_FALSE(client_->DownloadFile(url(false), ""));
  ExpectLastError(0, 0, "");
  EXPECT_THAT(emulator_->Journal(), SizeIs(0));
}

TEST_F(DownloadFaultTest, LockedLocalFileIsNotWritten) {
  // Whoever holds the file exclusively (another download) keeps this one out.
  Start(EmulatorOptions());
  const std::string path = LocalPath("locked");
  WriteFile(path, "held");
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_FALSE(client_->DownloadFile(url(false), path));
  ::close(fd);
  ExpectLastError(
      5, 1000000 + EWOULDBLOCK,
      "DownloadBigObject rsp status code[" + std::to_string(1000000 + EWOULDBLOCK) + "].");
  EXPECT_EQ(ReadFile(path), "held");
}

}  // namespace
}  // namespace orca_test
