// What the tool prints: the progress line, JSON results, ranges it accepts,
// settings it asks for, and failure records it quotes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "cli/Commands.h"
#include "cli/LogSinks.h"
#include "cli/Output.h"
#include "cli/ProgressBar.h"
#include "cli/Settings.h"

namespace ocs {
namespace {

constexpr uint64_t kMiB = uint64_t{1024} * 1024;

TEST(HumanBytesTest, PicksTheLargestUnitBelowTheValue) {
  EXPECT_EQ(HumanBytes(0), "0 B");
  EXPECT_EQ(HumanBytes(1023), "1023 B");
  EXPECT_EQ(HumanBytes(1024), "1.0 KiB");
  EXPECT_EQ(HumanBytes(1536), "1.5 KiB");
  EXPECT_EQ(HumanBytes(64 * kMiB), "64.0 MiB");
  EXPECT_EQ(HumanBytes(3 * (1024 * kMiB)), "3.0 GiB");
}

TEST(FormatProgressTest, ShowsWhatIsKnown) {
  struct Case {
    ProgressSample sample;
    std::string line;
  };
  const Case cases[] = {
      {{50, 32 * kMiB, 64 * kMiB, 2.0},
       "[##########..........]  50%  32.0 MiB / 64.0 MiB  16.0 MiB/s  ETA 0:02"},
      {{100, 64 * kMiB, 64 * kMiB, 4.0},
       "[####################] 100%  64.0 MiB / 64.0 MiB  16.0 MiB/s"},
      {{0, 0, 64 * kMiB, 0.0}, "[....................]   0%  0 B / 64.0 MiB"},
      {{25, 1024, 0, 1.0}, "[#####...............]  25%  1.0 KiB  1.0 KiB/s  ETA 0:03"},
      {{-1, 6 * kMiB, 0, 3.0}, "6.0 MiB  2.0 MiB/s"},
      {{1, kMiB, 100 * kMiB, 60.0},
       "[....................]   1%  1.0 MiB / 100.0 MiB  17.1 KiB/s  ETA 99:00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatProgress(c.sample), c.line);
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

TEST(ResultTest, JsonKeepsOrderAndEscapes) {
  Result result;
  result.Add("url", std::string("/p/\"q\"\\\n"))
      .Add("bytes", uint64_t{18446744073709551615U})
      .Add("removed", true);
  EXPECT_EQ(result.Json(), R"({"url":"/p/\"q\"\\\n","bytes":18446744073709551615,"removed":true})");
}

TEST(MissingSettingTest, NamesTheFirstMissingOptionAndVariable) {
  Settings settings;
  EXPECT_EQ(MissingObjectSetting(settings), "no service address: use --address or set OCS_ADDRESS");
  settings.address = "127.0.0.1";
  settings.upload_port = 1;
  EXPECT_THAT(MissingObjectSetting(settings), testing::HasSubstr("OCS_DOWNLOAD_PORT"));
  settings.download_port = 2;
  EXPECT_THAT(MissingObjectSetting(settings), testing::HasSubstr("OCS_POOL"));
  settings.pool = "pool1";
  EXPECT_EQ(MissingObjectSetting(settings), "");
  EXPECT_THAT(MissingPictureSetting(settings), testing::HasSubstr("OCS_PIC_UPLOAD_PORT"));
  settings.pic_upload_port = 3;
  settings.pic_download_port = 4;
  EXPECT_EQ(MissingPictureSetting(settings), "");
}

TEST(StripRecordFrameTest, KeepsTheMessageOfALogRecord) {
  EXPECT_EQ(StripRecordFrame("[Orca::CloudStorage::CPicProtoClient::GetBestNode][PicClient]send "
                             "get best node failed, error[7:111][src/StorageClient/X.cpp(42)]"),
            "[PicClient]send get best node failed, error[7:111]");
  EXPECT_EQ(StripRecordFrame("[F]download pic failed, url[/a].[src/P.cpp(7)]"),
            "download pic failed, url[/a].");
  EXPECT_EQ(StripRecordFrame("no frame [here]"), "no frame [here]");
  EXPECT_EQ(StripRecordFrame(""), "");
}

}  // namespace
}  // namespace ocs
