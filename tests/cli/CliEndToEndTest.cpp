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

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

constexpr size_t kMiB = size_t{1024} * 1024;

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (auto& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

class CliTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { emulator_ = std::make_unique<Emulator>(); }
  static void TearDownTestSuite() { emulator_.reset(); }

  // Runs ocs, which must succeed; its standard output.
  std::string Ok(const std::vector<std::string>& args, const std::string& input = "") {
    const OcsResult result = ocs_.Run(args, input);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return result.out;
  }
  // The first line of `text`, without its newline.
  static std::string Line(const std::string& text) { return text.substr(0, text.find('\n')); }

  static std::unique_ptr<Emulator> emulator_;
  OcsProcess ocs_{*emulator_};
  TempDir files_;
};

std::unique_ptr<Emulator> CliTest::emulator_;

TEST_F(CliTest, PutThenGetCatAndDashGiveTheSameBytes) {
  const std::string target = files_.path() + "/download.bin";
  for (const size_t size : {size_t{0}, 12 * kMiB + 5}) {  // one request; multipart
    SCOPED_TRACE(size);
    const std::string content = RandomBytes(size, static_cast<uint32_t>(size));
    const std::string url = Line(Ok({"put", files_.Write("upload.bin", content)}));
    EXPECT_THAT(url, MatchesRegex("/pool1/[^/]+"));
    EXPECT_EQ(Ok({"get", url, target}), "");
    EXPECT_TRUE(ReadFile(target) == content);
    EXPECT_TRUE(Ok({"cat", url}) == content);
    EXPECT_TRUE(Ok({"get", url, "-"}) == content);
    if (size > 0) {
      EXPECT_TRUE(Ok({"cat", url, "--range=-7"}) == content.substr(size - 7));
      Ok({"get", url, target, "--range", "10-19"});
      EXPECT_EQ(ReadFile(target), content.substr(10, 10));
    }
  }
  const std::string named = RandomBytes(3 * kMiB, 7);
  EXPECT_EQ(Ok({"put", files_.Write("named.bin", named), "--name", "report.bin"}),
            "/pool1/report.bin\n");
  EXPECT_TRUE(Ok({"cat", "/pool1/report.bin"}) == named);
}

TEST_F(CliTest, StandardInputIsStoredPieceByPiece) {
  // Around the 2 MiB piece size: no piece, one full, several.
  for (const auto& [size, name] : {std::pair<size_t, std::string>{0, ""},
                                   {2 * kMiB, "stdin-full.bin"},
                                   {2 * kMiB * 2 + 3, ""}}) {
    SCOPED_TRACE(size);
    const std::string content = RandomBytes(size, static_cast<uint32_t>(size));
    std::vector<std::string> args{"put", "-"};
    if (!name.empty()) args.insert(args.end(), {"--name", name});
    const std::string url = Line(Ok(args, content));
    EXPECT_TRUE(name.empty() || url == "/pool1/" + name) << url;
    EXPECT_TRUE(Ok({"cat", url}) == content);
  }
}

TEST_F(CliTest, RemovePicturesAndVersion) {
  for (const bool delete_file : {false, true}) {
    SCOPED_TRACE(delete_file);
    const std::string url = Line(Ok({"put", "-"}, "short-lived"));
    std::vector<std::string> rm{"rm", url};
    if (delete_file) rm.emplace_back("--deletefile");
    Ok(rm);
    const OcsResult cat = ocs_.Run({"cat", url});
    EXPECT_EQ(cat.exit_code, 1);
    EXPECT_EQ(cat.err, "error 9: NoSuchKey\n");
  }

  const std::string picture = "\xFF\xD8\xFF\xE0" + RandomBytes(3000, 11) + "\xFF\xD9";
  const std::string url = Line(Ok({"pic", "put", files_.Write("picture.jpg", picture)}));
  const std::string target = files_.path() + "/picture-back.jpg";
  Ok({"pic", "get", url, target});
  EXPECT_TRUE(ReadFile(target) == picture);
  EXPECT_TRUE(Ok({"pic", "get", url, "-"}) == picture);

  const std::string configured = Ok({"version"});
  EXPECT_NE(configured, "");
  const std::string server = "127.0.0.1:" + std::to_string(emulator_->endpoints().upload);
  ocs_.Set("OCS_ADDRESS", std::nullopt);
  ocs_.Set("OCS_UPLOAD_PORT", std::nullopt);
  EXPECT_EQ(Ok({"version", server}), configured);
}

TEST_F(CliTest, FailuresExplainThemselves) {
  const std::string missing = files_.path() + "/missing.bin";
  const std::string not_written = files_.path() + "/never.bin";
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> env;  // "NAME=value" sets, "NAME" removes
    int exit_code;
    std::string err;  // a regular expression found in standard error
  } cases[] = {
      {{"put", missing}, {}, 1, "^ocs: .*/missing.bin: No such file or directory"},
      {{"cat", "/pool1/x"}, {"OCS_ACCESS_KEY", "OCS_SECRET_KEY"}, 1, "^ocs: no access keys"},
      {{"cat", "/pool1/x"}, {"OCS_SECRET_KEY"}, 1, "OCS_SECRET_KEY is not"},
      // Nothing listens on port 1.
      {{"cat", "/pool1/x"},
       {"OCS_DOWNLOAD_PORT=1"},
       1,
       "^error 4: .*could not talk to the service"},
      {{"get", "/pool1/never-stored", not_written}, {}, 1, "^error 5: "},
      {{"put", "-"}, {"OCS_SECRET_KEY=wrong"}, 1, "^error 5: "},
      {{"pic", "get", "/QuarnBox/Picture/pool1/none.jpg", "-"},
       {},
       1,
       "^error: picture download failed: "},
      {{"cat", "/pool1/x", "--range", "9-5"}, {}, 2, "range"},
      {{"cat", "/pool1/x"}, {"OCS_ADDRESS"}, 2, "^ocs: no service address"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    OcsProcess ocs(*emulator_);
    for (const std::string& change : c.env) {
      const size_t equals = change.find('=');
      ocs.Set(change.substr(0, equals), equals == std::string::npos
                                            ? std::nullopt
                                            : std::optional(change.substr(equals + 1)));
    }
    const OcsResult result = ocs.Run(c.args);
    EXPECT_EQ(result.exit_code, c.exit_code) << result.err;
    EXPECT_THAT(result.err, ContainsRegex(c.err));
    EXPECT_EQ(result.out, "");
  }
  // Neither a mistyped upload nor a failed download leaves a file behind.
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_FALSE(std::filesystem::exists(not_written));
}

TEST_F(CliTest, KeysFromTheProfileOptionThenTheEnvironmentThenTheDefaultProfile) {
  const auto& pool = Emulator::pool(0);
  const std::string keys = "access_key = " + pool.ak + "\nsecret_key = " + pool.sk + "\n";
  const std::string fallback = ocs_.home() + "/.config/ocs/credentials";
  std::filesystem::create_directories(std::filesystem::path(fallback).parent_path());
  std::filesystem::copy_file(files_.Write("credentials", keys), fallback);
  chmod(fallback.c_str(), 0600);
  ocs_.Set("OCS_ACCESS_KEY", std::nullopt);
  ocs_.Set("OCS_SECRET_KEY", std::nullopt);
  Ok({"put", "-"}, "from the default profile");
  ocs_.Set("OCS_ACCESS_KEY", pool.ak);
  ocs_.Set("OCS_SECRET_KEY", "wrong");
  EXPECT_EQ(ocs_.Run({"put", "-"}, "from the environment").exit_code, 1);
  Ok({"--profile", fallback, "put", "-"}, "from the named profile");

  // A profile others can read is refused.
  chmod(fallback.c_str(), 0644);
  const OcsResult refused = ocs_.Run({"--profile", fallback, "put", "-"}, "refused");
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_THAT(refused.err, HasSubstr("is accessible by group or others"));
  EXPECT_THAT(refused.err, HasSubstr("Run: chmod 600 " + fallback));
}

TEST_F(CliTest, ProgressBarOnlyOnATerminal) {
  const std::string path = files_.Write("progress.bin", RandomBytes(12 * kMiB, 5));
  EXPECT_EQ(ocs_.Run({"put", path}).err, "");
  const OcsResult shown = ocs_.RunOnTerminal({"put", path});
  EXPECT_EQ(shown.exit_code, 0) << shown.out;
  EXPECT_THAT(shown.out, HasSubstr("100%  12.0 MiB / 12.0 MiB"));
  EXPECT_THAT(ocs_.RunOnTerminal({"--quiet", "put", path}).out, MatchesRegex("/pool1/[^/]+\r\n"));
}

TEST_F(CliTest, JsonResultsAndVerboseRecords) {
  const std::string put = Ok({"--json", "put", "-"}, "json");
  rapidjson::Document stored;
  ASSERT_FALSE(stored.Parse(put.c_str()).HasParseError()) << put;
  ASSERT_TRUE(stored.HasMember("url") && stored["url"].IsString());
  EXPECT_EQ(stored["bytes"].GetUint64(), 4u);
  const std::string url = stored["url"].GetString();

  EXPECT_EQ(ocs_.Run({"cat", url}).err, "");
  const OcsResult verbose = ocs_.Run({"--verbose", "cat", url});
  EXPECT_EQ(verbose.out, "json");
  EXPECT_THAT(verbose.err, HasSubstr("platform.LocalStorage"));
  EXPECT_THAT(verbose.err, HasSubstr("send url[http://"));
  EXPECT_EQ(Ok({"rm", url, "--json"}), "{\"url\":\"" + url + "\",\"removed\":true}\n");
}

}  // namespace
}  // namespace orca_test
