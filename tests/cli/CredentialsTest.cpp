// Profile parsing and the permission check.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>

#include "TestFiles.h"
#include "cli/Credentials.h"

namespace ocs {
namespace {

using ::testing::HasSubstr;

TEST(ParseProfileTest, AcceptsNameValueLinesAndRejectsTheRest) {
  const std::pair<std::string, const char*> cases[] = {
      // The problem named; nullptr: the keys are AK and SK.
      {"access_key = AK\nsecret_key = SK\n", nullptr},
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
      EXPECT_THAT(problem, HasSubstr(problem_part));
    }
  }
}

TEST(ReadProfileTest, RefusesFilesOthersCanAccess) {
  orca_test::TempDir dir;
  const std::string path = dir.Write("credentials", "access_key = AK\nsecret_key = SK\n");
  for (const mode_t mode : {0600, 0400, 0700, 0640, 0604, 0620, 0660, 0601}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    std::string problem;
    const bool private_file = (mode & 077) == 0;
    EXPECT_EQ(ReadProfile(path, problem).has_value(), private_file) << problem;
    EXPECT_EQ(problem.find("accessible by group or others") != std::string::npos, !private_file);
  }
  std::string problem;
  EXPECT_FALSE(ReadProfile(dir.path() + "/absent", problem));
  EXPECT_THAT(problem, HasSubstr("No such file"));
}

}  // namespace
}  // namespace ocs
