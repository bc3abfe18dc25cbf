// What the tool prints and accepts: the progress line and ranges.
#include <gtest/gtest.h>

#include <string>

#include "cli/Commands.h"
#include "cli/ProgressBar.h"

namespace ocs {
namespace {

constexpr uint64_t kMiB = uint64_t{1024} * 1024;

TEST(FormatProgressTest, ShowsWhatIsKnown) {
  const std::pair<ProgressSample, const char*> cases[] = {
      {{50, 32 * kMiB, 64 * kMiB, 2.0},
       "[##########..........]  50%  32.0 MiB / 64.0 MiB  16.0 MiB/s  ETA 0:02"},
      {{100, 64 * kMiB, 64 * kMiB, 4.0},
       "[####################] 100%  64.0 MiB / 64.0 MiB  16.0 MiB/s"},
      {{0, 0, 3 * 1024 * kMiB, 0.0}, "[....................]   0%  0 B / 3.0 GiB"},
      {{25, 1023, 0, 1.0}, "[#####...............]  25%  1023 B  1023 B/s  ETA 0:03"},
      {{-1, 6 * kMiB, 0, 3.0}, "6.0 MiB  2.0 MiB/s"},
      {{1, kMiB, 100 * kMiB, 60.0},
       "[....................]   1%  1.0 MiB / 100.0 MiB  17.1 KiB/s  ETA 99:00"},
  };
  for (const auto& [sample, line] : cases) {
    EXPECT_EQ(FormatProgress(sample), line);
  }
}

TEST(CheckRangeTest, AcceptsTheThreeFormsOnly) {
  for (const char* range : {"0-0", "10-19", "100-", "-5", "0-18446744073709551"}) {
    EXPECT_EQ(CheckRange(range), "") << range;
  }
  for (const char* range : {"", "-", "5", "a-b", "1-2-3", "--5", "5--", " 1-2", "1-2 ", "+1-2",
                            "19-5", "12345678901234567890-"}) {
    EXPECT_NE(CheckRange(range), "") << range;
  }
}

}  // namespace
}  // namespace ocs
