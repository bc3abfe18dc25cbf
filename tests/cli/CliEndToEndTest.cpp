// ocs end to end: the binary run as a child process against the emulator.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Emulator.h"
#include "OcsProcess.h"

namespace orca_test {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::StartsWith;

constexpr size_t kMiB = size_t{1024} * 1024;

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (auto& byte : bytes) {
    byte = static_cast<char>(generator());
  }
  return bytes;
}

class CliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { emulator_ = std::make_unique<Emulator>(); }
  static void TearDownTestSuite() { emulator_.reset(); }

  // Stores `content` through "ocs put" of a file; returns the object URL.
  std::string PutFile(const std::string& content) {
    const auto put = ocs_.Run({"put", files_.Write("upload.bin", content)});
    EXPECT_EQ(put.exit_code, 0) << put.err;
    return Line(put.out);
  }

  // The first line of `text`, without its newline.
  static std::string Line(const std::string& text) { return text.substr(0, text.find('\n')); }

  static std::unique_ptr<Emulator> emulator_;
  OcsProcess ocs_{*emulator_};
  TempDir files_;
};

std::unique_ptr<Emulator> CliTest::emulator_;

TEST_F(CliTest, PutThenGetCatAndDashGiveTheSameBytes) {
  // Empty, one request, and multipart (10 MiB and more).
  for (const size_t size : {size_t{0}, size_t{1000}, 12 * kMiB + 5}) {
    SCOPED_TRACE(size);
    const std::string content = RandomBytes(size, static_cast<uint32_t>(size));
    const std::string url = PutFile(content);
    EXPECT_THAT(url, MatchesRegex("/pool1/[^/]+"));

    const std::string target = files_.path() + "/download.bin";
    const auto get = ocs_.Run({"get", url, target});
    EXPECT_EQ(get.exit_code, 0) << get.err;
    EXPECT_EQ(get.out, "");
    EXPECT_TRUE(ReadFile(target) == content);

    for (const auto& args :
         std::vector<std::vector<std::string>>{{"cat", url}, {"get", url, "-"}}) {
      const auto shown = ocs_.Run(args);
      EXPECT_EQ(shown.exit_code, 0) << shown.err;
      EXPECT_TRUE(shown.out == content) << args[0] << " gave " << shown.out.size() << " bytes";
    }
  }
}

TEST_F(CliTest, StandardInputIsStoredPieceByPiece) {
  // Around the 2 MiB piece size: no piece, one short, one full, several.
  const size_t sizes[] = {0, 1, 2 * kMiB, 2 * kMiB * 2 + 3};
  int case_number = 0;
  for (const size_t size : sizes) {
    for (const bool named : {false, true}) {
      SCOPED_TRACE(testing::Message() << size << (named ? " named" : " unnamed"));
      const std::string content = RandomBytes(size, static_cast<uint32_t>(size + named));
      const std::string name = "stdin-" + std::to_string(++case_number) + ".bin";
      std::vector<std::string> args{"put", "-"};
      if (named) {
        args.insert(args.end(), {"--name", name});
      }
      const auto put = ocs_.Run(args, content);
      ASSERT_EQ(put.exit_code, 0) << put.err;
      const std::string url = Line(put.out);
      if (named) {
        EXPECT_EQ(url, "/pool1/" + name);
      }
      const auto cat = ocs_.Run({"cat", url});
      EXPECT_EQ(cat.exit_code, 0) << cat.err;
      EXPECT_TRUE(cat.out == content) << "read back " << cat.out.size() << " bytes";
    }
  }
}

TEST_F(CliTest, PutOfAFileWithNameStoresItUnderThatName) {
  const std::string content = RandomBytes(5 * kMiB, 7);
  const auto put = ocs_.Run({"put", files_.Write("named.bin", content), "--name", "report.bin"});
  ASSERT_EQ(put.exit_code, 0) << put.err;
  EXPECT_EQ(put.out, "/pool1/report.bin\n");
  EXPECT_TRUE(ocs_.Run({"cat", "/pool1/report.bin"}).out == content);
}

TEST_F(CliTest, RangeReadsOnlyTheRequestedBytes) {
  const std::string content = RandomBytes(1000, 3);
  const std::string url = PutFile(content);
  struct Case {
    std::string option;
    std::string expected;
  };
  const Case cases[] = {{"--range=10-19", content.substr(10, 10)},
                        {"--range=990-", content.substr(990)},
                        {"--range=-7", content.substr(993)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    const auto cat = ocs_.Run({"cat", url, c.option});
    EXPECT_EQ(cat.exit_code, 0) << cat.err;
    EXPECT_TRUE(cat.out == c.expected) << cat.out.size() << " bytes";
  }
  const std::string target = files_.path() + "/range.bin";
  EXPECT_EQ(ocs_.Run({"get", url, target, "--range", "0-4"}).exit_code, 0);
  EXPECT_EQ(ReadFile(target), content.substr(0, 5));
}

TEST_F(CliTest, RemovedObjectsAreGone) {
  for (const bool delete_file : {false, true}) {
    SCOPED_TRACE(delete_file ? "--deletefile" : "plain");
    const std::string url = PutFile("short-lived");
    std::vector<std::string> args{"rm", url};
    if (delete_file) {
      args.emplace_back("--deletefile");
    }
    const auto rm = ocs_.Run(args);
    EXPECT_EQ(rm.exit_code, 0) << rm.err;
    const auto cat = ocs_.Run({"cat", url});
    EXPECT_EQ(cat.exit_code, 1);
    EXPECT_EQ(cat.err, "error 9: NoSuchKey\n");
    EXPECT_EQ(cat.out, "");
  }
}

TEST_F(CliTest, VersionOfTheConfiguredOrANamedServer) {
  const auto configured = ocs_.Run({"version"});
  EXPECT_EQ(configured.exit_code, 0) << configured.err;
  EXPECT_THAT(configured.out, Not(IsEmpty()));

  ocs_.Set("OCS_ADDRESS", std::nullopt);
  ocs_.Set("OCS_UPLOAD_PORT", std::nullopt);
  const std::string server = "127.0.0.1:" + std::to_string(emulator_->endpoints().upload);
  const auto named = ocs_.Run({"version", server});
  EXPECT_EQ(named.exit_code, 0) << named.err;
  EXPECT_EQ(named.out, configured.out);
}

TEST_F(CliTest, PictureRoundTrip) {
  const std::string picture = "\xFF\xD8\xFF\xE0" + RandomBytes(3000, 11) + "\xFF\xD9";
  const auto put = ocs_.Run({"pic", "put", files_.Write("picture.jpg", picture)});
  ASSERT_EQ(put.exit_code, 0) << put.err;
  const std::string url = Line(put.out);
  EXPECT_THAT(url, StartsWith("/"));

  const std::string target = files_.path() + "/picture-back.jpg";
  const auto get = ocs_.Run({"pic", "get", url, target});
  EXPECT_EQ(get.exit_code, 0) << get.err;
  EXPECT_TRUE(ReadFile(target) == picture);
  EXPECT_TRUE(ocs_.Run({"pic", "get", url, "-"}).out == picture);
}

TEST_F(CliTest, FailuresExplainThemselves) {
  const std::string missing = files_.path() + "/missing.bin";
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::optional<std::string>>> env;
    int exit_code;
    std::string err_start;
    std::string err_part;
  };
  const Case cases[] = {
      {"missing file", {"put", missing}, {}, 1, "ocs: ", "missing.bin: No such file or directory"},
      {"missing keys",
       {"cat", "/pool1/x"},
       {{"OCS_ACCESS_KEY", std::nullopt}, {"OCS_SECRET_KEY", std::nullopt}},
       1,
       "ocs: no access keys",
       "OCS_ACCESS_KEY"},
      {"half the keys",
       {"cat", "/pool1/x"},
       {{"OCS_SECRET_KEY", std::nullopt}},
       1,
       "ocs: ",
       "OCS_SECRET_KEY is not"},
      {"unreachable server",
       {"cat", "/pool1/x"},
       {{"OCS_DOWNLOAD_PORT", std::to_string(ClosedPort())}},
       1,
       "error 4: ",
       "could not talk to the service"},
      {"no such key", {"cat", "/pool1/never-stored"}, {}, 1, "error 9: NoSuchKey", ""},
      {"wrong secret key", {"put", "-"}, {{"OCS_SECRET_KEY", "wrong"}}, 1, "error 5: ", ""},
      {"no such picture",
       {"pic", "get", "/QuarnBox/Picture/pool1/none.jpg", "-"},
       {},
       1,
       "error: picture download failed: ",
       ""},
      {"no subcommand", {}, {}, 2, "", "subcommand"},
      {"missing argument", {"get", "/pool1/x"}, {}, 2, "", "FILE is required"},
      {"bad range", {"cat", "/pool1/x", "--range", "9-5"}, {}, 2, "", "range"},
      {"no address",
       {"cat", "/pool1/x"},
       {{"OCS_ADDRESS", std::nullopt}},
       2,
       "ocs: ",
       "OCS_ADDRESS"},
      {"no picture port",
       {"pic", "get", "/p", "-"},
       {{"OCS_PIC_UPLOAD_PORT", std::nullopt}},
       2,
       "ocs: ",
       "OCS_PIC_UPLOAD_PORT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    OcsProcess ocs(*emulator_);
    for (const auto& [name, value] : c.env) {
      ocs.Set(name, value);
    }
    const auto result = ocs.Run(c.args);
    EXPECT_EQ(result.exit_code, c.exit_code) << result.err;
    EXPECT_THAT(result.err, StartsWith(c.err_start));
    EXPECT_THAT(result.err, HasSubstr(c.err_part));
    EXPECT_EQ(result.out, "");
  }
  // The library would create a missing file and upload it empty; ocs must not.
  struct stat info {};
  EXPECT_NE(stat(missing.c_str(), &info), 0);
}

TEST_F(CliTest, FailedDownloadLeavesNoFileBehind) {
  const std::string target = files_.path() + "/never.bin";
  EXPECT_EQ(ocs_.Run({"get", "/pool1/never-stored", target}).exit_code, 1);
  struct stat info {};
  EXPECT_NE(stat(target.c_str(), &info), 0);
}

TEST_F(CliTest, KeysComeFromAPrivateProfileFile) {
  const auto& pool = Emulator::pool(0);
  const std::string profile =
      "# test keys\naccess_key = " + pool.ak + "\nsecret_key = " + pool.sk + "\n";
  ocs_.Set("OCS_ACCESS_KEY", std::nullopt);
  ocs_.Set("OCS_SECRET_KEY", std::nullopt);
  const std::string path = files_.Write("credentials", profile);

  chmod(path.c_str(), 0600);
  const auto accepted = ocs_.Run({"--profile", path, "put", "-"}, "from a profile");
  EXPECT_EQ(accepted.exit_code, 0) << accepted.err;

  chmod(path.c_str(), 0644);
  const auto refused = ocs_.Run({"--profile", path, "put", "-"}, "from a profile");
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_THAT(refused.err, HasSubstr("accessible by group or others"));
  EXPECT_THAT(refused.err, HasSubstr("chmod 600 " + path));
  EXPECT_EQ(refused.out, "");

  // The default profile, under HOME, when no other source gives keys.
  const std::string config = ocs_.home() + "/.config/ocs";
  std::filesystem::create_directories(config);
  const std::string fallback = config + "/credentials";
  std::filesystem::copy_file(path, fallback);
  chmod(fallback.c_str(), 0600);
  const auto from_home = ocs_.Run({"put", "-"}, "from the default profile");
  EXPECT_EQ(from_home.exit_code, 0) << from_home.err;
}

TEST_F(CliTest, ProgressBarOnlyOnATerminal) {
  const std::string path = files_.Write("progress.bin", RandomBytes(12 * kMiB, 5));
  const auto piped = ocs_.Run({"put", path});
  EXPECT_EQ(piped.exit_code, 0);
  EXPECT_EQ(piped.err, "");

  const auto shown = ocs_.RunOnTerminal({"put", path});
  EXPECT_EQ(shown.exit_code, 0) << shown.out;
  EXPECT_THAT(shown.out, HasSubstr("100%"));
  EXPECT_THAT(shown.out, HasSubstr("12.0 MiB / 12.0 MiB"));

  const auto quiet = ocs_.RunOnTerminal({"--quiet", "put", path});
  EXPECT_EQ(quiet.exit_code, 0) << quiet.out;
  EXPECT_THAT(quiet.out, Not(HasSubstr("%")));
  EXPECT_THAT(quiet.out, MatchesRegex("/pool1/[^/]+\r\n"));
}

TEST_F(CliTest, JsonResultsForScripts) {
  const std::string content = RandomBytes(4321, 9);
  const auto put = ocs_.Run({"--json", "put", files_.Write("json.bin", content)});
  ASSERT_EQ(put.exit_code, 0) << put.err;
  rapidjson::Document stored;
  ASSERT_FALSE(stored.Parse(put.out.c_str()).HasParseError()) << put.out;
  ASSERT_TRUE(stored.HasMember("url") && stored["url"].IsString());
  EXPECT_EQ(stored["bytes"].GetUint64(), content.size());
  EXPECT_TRUE(stored["seconds"].IsNumber());

  const std::string url = stored["url"].GetString();
  const std::string target = files_.path() + "/json-back.bin";
  const auto get = ocs_.Run({"get", url, target, "--json"});
  rapidjson::Document fetched;
  ASSERT_FALSE(fetched.Parse(get.out.c_str()).HasParseError()) << get.out;
  EXPECT_EQ(fetched["bytes"].GetUint64(), content.size());
  EXPECT_EQ(std::string(fetched["file"].GetString()), target);

  const auto rm = ocs_.Run({"rm", url, "--json"});
  rapidjson::Document removed;
  ASSERT_FALSE(removed.Parse(rm.out.c_str()).HasParseError()) << rm.out;
  EXPECT_TRUE(removed["removed"].GetBool());
}

TEST_F(CliTest, VerboseShowsTheLibraryRecords) {
  const std::string url = PutFile("verbose");
  const auto quiet = ocs_.Run({"cat", url});
  EXPECT_EQ(quiet.err, "");
  const auto verbose = ocs_.Run({"--verbose", "cat", url});
  EXPECT_EQ(verbose.exit_code, 0);
  EXPECT_THAT(verbose.err, HasSubstr("platform.LocalStorage"));
  EXPECT_THAT(verbose.err, HasSubstr("send url[http://"));
  EXPECT_EQ(verbose.out, "verbose");
}

}  // namespace
}  // namespace orca_test
