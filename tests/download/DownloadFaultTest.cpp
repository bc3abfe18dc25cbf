// Downloads to a file that fail where the fault matrix does not look: a
// missing object on either path, and local files that cannot be opened,
// written or shared. Local failures travel as subcodes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "DownloadFixture.h"

namespace orca_test {
namespace {

using DownloadFaultTest = DownloadToFileTest;

TEST_F(DownloadFaultTest, FailuresRecordCodeAndSubcode) {
  // Whoever holds a file exclusively (another download) keeps this one out.
  const std::string locked = LocalPath("locked");
  WriteFile(locked, "held");
  const int fd = ::open(locked.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  const std::string missing_dir = LocalPath("no-such-dir/object");
  const std::string no_such_key = R"("kind":"status","status":404,"body":"<Code>NoSuchKey</Code>")";
  const struct {
    const char* name;
    bool https;
    std::string path;
    std::string fault;  // on the object's GETs
    int32_t code;
    int32_t subcode;
    const char* message;  // "": the message names the subcode
  } cases[] = {
      {"streamed, no such key", false, LocalPath("a"), no_such_key, 5, 404,
       "DownloadBigObject rsp status code[404]."},
      {"ranged, no such key", true, LocalPath("b"), no_such_key, 9, 0, "NoSuchKey"},
      {"streamed, cannot open", false, missing_dir, "", 5, 1000000 + ENOENT, ""},
      {"ranged, cannot open", true, missing_dir, "", 3, 1000000 + ENOENT, ""},
      {"streamed, cannot write", false, "/dev/full", "", 3, -1002, ""},
      {"ranged, cannot write", true, "/dev/full", "", 3, -1002, ""},
      {"streamed, locked", false, locked, "", 5, 1000000 + EWOULDBLOCK, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(c.https);
    if (!c.fault.empty()) {
      AddFaultJson(R"({"role":"download","path":"*.bin",)" + c.fault + "}");
    }
    const uint64_t size = c.https ? 12 * kMiB : 4 * kMiB;
    ASSERT_FALSE(client_->DownloadFile(GeneratedUrl(size, 21), c.path));
    ExpectLastError(c.code, c.subcode,
                    *c.message != '\0'
                        ? c.message
                        : "DownloadBigObject rsp status code[" + std::to_string(c.subcode) + "].");
  }
  ::close(fd);
  EXPECT_EQ(ReadFile(locked), "held");
}

}  // namespace
}  // namespace orca_test
