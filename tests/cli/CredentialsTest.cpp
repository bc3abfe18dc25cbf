// Profile parsing, the permission check and where the keys come from.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "TestFiles.h"
#include "cli/Credentials.h"

namespace ocs {
namespace {

using ::testing::HasSubstr;

TEST(ParseProfileTest, AcceptsNameValueLinesAndRejectsTheRest) {
  struct Case {
    std::string text;
    bool ok;
    std::string problem;
  };
  const Case cases[] = {
      {"access_key = AK\nsecret_key = SK\n", true, ""},
      {"# comment\n\n  access_key=AK  \r\nsecret_key =\tSK", true, ""},
      {"secret_key = SK\naccess_key = AK", true, ""},
      {"access_key = AK\n", false, "both access_key and secret_key"},
      {"access_key = AK\nsecret_key = \n", false, "both"},
      {"access_key = AK\nsecret = SK\n", false, "line 2"},
      {"access_key AK\n", false, "line 1"},
      {"", false, "both"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string problem;
    const auto keys = ParseProfile(c.text, problem);
    ASSERT_EQ(keys.has_value(), c.ok) << problem;
    if (c.ok) {
      EXPECT_EQ(keys->access_key, "AK");
      EXPECT_EQ(keys->secret_key, "SK");
    } else {
      EXPECT_THAT(problem, HasSubstr(c.problem));
    }
  }
}

TEST(ReadProfileTest, RefusesFilesOthersCanAccess) {
  orca_test::TempDir dir;
  const std::string path = dir.Write("credentials", "access_key = AK\nsecret_key = SK\n");
  struct Case {
    mode_t mode;
    bool ok;
  };
  const Case cases[] = {{0600, true},  {0400, true},  {0700, true},  {0640, false},
                        {0604, false}, {0620, false}, {0660, false}, {0601, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    std::string problem;
    EXPECT_EQ(ReadProfile(path, problem).has_value(), c.ok) << problem;
    if (!c.ok) {
      EXPECT_THAT(problem, HasSubstr("accessible by group or others"));
    }
  }
  std::string problem;
  EXPECT_FALSE(ReadProfile(dir.path() + "/absent", problem));
  EXPECT_THAT(problem, HasSubstr("No such file"));
}

// LoadKeys reads the process environment: each case sets it afresh.
class LoadKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"OCS_ACCESS_KEY", "OCS_SECRET_KEY", "XDG_CONFIG_HOME", "HOME"}) {
      if (const char* value = std::getenv(name)) {
        saved_.emplace_back(name, value);
      }
      unsetenv(name);
    }
    setenv("HOME", home_.path().c_str(), 1);
  }
  void TearDown() override {
    for (const char* name : {"OCS_ACCESS_KEY", "OCS_SECRET_KEY", "XDG_CONFIG_HOME", "HOME"}) {
      unsetenv(name);
    }
    for (const auto& [name, value] : saved_) {
      setenv(name.c_str(), value.c_str(), 1);
    }
  }

  std::string WriteProfile(const std::string& dir, const std::string& ak) {
    std::filesystem::create_directories(dir);
    std::string path = dir + "/credentials";
    orca_test::WriteFile(path, "access_key = " + ak + "\nsecret_key = S\n");
    chmod(path.c_str(), 0600);
    return path;
  }

  // The access key LoadKeys finds, or "none: " and the reason.
  static std::string AccessKey(const std::string& profile = "") {
    std::string problem;
    const auto keys = LoadKeys(profile, problem);
    return keys ? keys->access_key : "none: " + problem;
  }

  orca_test::TempDir home_;
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(LoadKeysTest, ProfileOptionThenEnvironmentThenDefaultProfile) {
  EXPECT_THAT(AccessKey(), HasSubstr("none: no access keys"));
  EXPECT_THAT(AccessKey(), HasSubstr(home_.path() + "/.config/ocs/credentials"));

  WriteProfile(home_.path() + "/.config/ocs", "from-home");
  EXPECT_EQ(AccessKey(), "from-home");
  std::string stale = "left over from an earlier call";
  EXPECT_TRUE(LoadKeys("", stale).has_value()) << stale;

  setenv("XDG_CONFIG_HOME", (home_.path() + "/xdg").c_str(), 1);
  WriteProfile(home_.path() + "/xdg/ocs", "from-xdg");
  EXPECT_EQ(AccessKey(), "from-xdg");

  setenv("OCS_ACCESS_KEY", "from-env", 1);
  setenv("OCS_SECRET_KEY", "S", 1);
  EXPECT_EQ(AccessKey(), "from-env");

  const std::string named = WriteProfile(home_.path() + "/named", "from-option");
  EXPECT_EQ(AccessKey(named), "from-option");
}

TEST_F(LoadKeysTest, HalfTheKeysInTheEnvironmentIsAnError) {
  WriteProfile(home_.path() + "/.config/ocs", "from-home");
  setenv("OCS_ACCESS_KEY", "A", 1);
  EXPECT_THAT(AccessKey(), HasSubstr("OCS_SECRET_KEY is not"));
}

}  // namespace
}  // namespace ocs
