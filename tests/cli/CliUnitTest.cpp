// The tool's pure pieces: profile parsing, the progress line, retry notices
// and ranges.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "cli/Commands.h"
#include "cli/Credentials.h"
#include "cli/FailureHints.h"
#include "cli/LogSinks.h"
#include "cli/ProgressBar.h"

namespace ocs {
namespace {

constexpr uint64_t kMiB = uint64_t{1024} * 1024;

TEST(ParseProfileTest, AcceptsNameValueLinesAndRejectsTheRest) {
  const std::pair<std::string, const char*> cases[] = {
      // The problem named; nullptr: the keys are AK and SK.
      {"# comment\n\n  access_key=AK  \r\nsecret_key =\tSK", nullptr},
      {"secret_key = SK\naccess_key = AK", nullptr},
      {"access_key = AK\n", "both access_key and secret_key"},
      {"access_key = AK\nsecret_key = \n", "both"},
      {"access_key = AK\nsecret = SK\n", "line 2"},
      {"access_key AK\n", "line 1"},
  };
  for (const auto& [text, problem_part] : cases) {
    SCOPED_TRACE(text);
    std::string problem;
    const std::optional<Keys> keys = ParseProfile(text, problem);
    ASSERT_EQ(keys.has_value(), problem_part == nullptr) << problem;
    if (keys) {
      EXPECT_EQ(keys->access_key + keys->secret_key, "AKSK");
    } else {
      EXPECT_THAT(problem, ::testing::HasSubstr(problem_part));
    }
  }
}

TEST(FormatProgressTest, ShowsWhatIsKnown) {
  const std::pair<ProgressSample, const char*> cases[] = {
      {{50, 32 * kMiB, 64 * kMiB, 2.0},
       "[##########..........]  50%  32.0 MiB / 64.0 MiB  16.0 MiB/s  ETA 0:02"},
      {{100, 64 * kMiB, 64 * kMiB, 4.0},
       "[####################] 100%  64.0 MiB / 64.0 MiB  16.0 MiB/s"},
      {{0, 0, 3072 * kMiB, 0.0}, "[....................]   0%  0 B / 3.0 GiB"},
      {{-1, 6 * kMiB, 0, 3.0}, "6.0 MiB  2.0 MiB/s"},
      {{1, kMiB, 100 * kMiB, 60.0},
       "[....................]   1%  1.0 MiB / 100.0 MiB  17.1 KiB/s  ETA 99:00"},
  };
  for (const auto& [sample, line] : cases) {
    EXPECT_EQ(FormatProgress(sample), line);
  }
}

TEST(RetryNoticeTest, ShortensRetryRecordsOnly) {
  const std::pair<const char*, const char*> cases[] = {
      // nullptr: no notice.
      {"[Ns::C::DownloadFile][Client]retry: attempt 2 of 5 in 180 ms, after status code[503]"
       "[src/StorageClient/protocol/Pipeline.cpp(88)]",
       "retry 2/5 in 180 ms (status code[503])"},
      {"[Fn][PicClient]retry: attempt 5 of 5 in 3125 ms, after error[56:104]",
       "retry 5/5 in 3125 ms (error[56:104])"},
      {"[Fn][Client]retry: attempt 2 of 5 in 180 ms", nullptr},
      {"[Fn][Client]retry: attempt two of 5 in 180 ms, after error[7:111]", nullptr},
      {"[Fn][Client]send url[http://127.0.0.1/p/k][src/File.cpp(12)]", nullptr},
  };
  for (const auto& [record, notice] : cases) {
    SCOPED_TRACE(record);
    const std::optional<std::string> shown = RetryNotice(record);
    ASSERT_EQ(shown.has_value(), notice != nullptr);
    if (shown) {
      EXPECT_EQ(*shown, notice);
    }
  }
}

TEST(CheckRangeTest, AcceptsTheThreeFormsOnly) {
  for (const char* range : {"0-0", "10-19", "100-", "-5", "0-18446744073709551"}) {
    EXPECT_EQ(CheckRange(range), "") << range;
  }
  for (const char* range :
       {"", "-", "5", "a-b", "1-2-3", "--5", " 1-2", "+1-2", "19-5", "12345678901234567890-"}) {
    EXPECT_NE(CheckRange(range), "") << range;
  }
}

TEST(FailureHintTest, NamesTheLikelyCause) {
  const struct {
    int32_t code;
    const char* message;
    const char* hint_part;  // "": no hint
  } cases[] = {
      {4, "SendObjectMsg msg failed[7:111].", "could not talk to the service at SERVER"},
      {9, "NoSuchKey", "no such object"},
      {5, "DownloadBigObject rsp status code[404].", "no such object"},
      {8, "NoSuchBucket", "no such pool"},
      {5, "get best node rsp status code[403].", "refused the keys"},
      {5, "DownloadObject rsp status code[403].", "clock"},
      {2, "object url[/p/a b] holds byte 0x20 at offset 4, which cannot stand in a request.",
       "cannot hold control bytes, spaces or DEL"},
      {2, "file size exceed 32M.", ""},
      {5, "get best node rsp status code[500].", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const std::string hint = FailureHint(c.code, c.message, "SERVER");
    if (*c.hint_part == '\0') {
      EXPECT_EQ(hint, "");
    } else {
      EXPECT_THAT(hint, ::testing::HasSubstr(c.hint_part));
    }
  }
}

}  // namespace
}  // namespace ocs
