// ocs end to end: the binary run as a child process against the emulator.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Emulator.h"
#include "TestFiles.h"

namespace orca_test {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

constexpr size_t kMiB = size_t{1024} * 1024;

// `text` as one word of a shell command.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The exit code of a command run by std::system.
int ExitCode(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct OcsResult {
  int exit_code = -1;
  std::string out;  // standard output (everything, on a terminal)
  std::string err;  // standard error (empty on a terminal)
};

// Runs the ocs binary through the shell, as a user or a script would. Its
// environment: this process's without OCS_* variables, HOME in a private
// directory, and the OCS_* settings for pool 0 of `emulator`.
class OcsProcess {
 public:
  explicit OcsProcess(const Emulator& emulator) {
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      const size_t equals = text.find('=');
      const std::string name = text.substr(0, equals);
      if (equals != std::string::npos && name.rfind("OCS_", 0) != 0 && name != "XDG_CONFIG_HOME") {
        env_[name] = text.substr(equals + 1);
      }
    }
    const EmulatorEndpoints& ends = emulator.endpoints();
    env_["HOME"] = home_.path();
    env_["OCS_ADDRESS"] = ends.address;
    env_["OCS_UPLOAD_PORT"] = std::to_string(ends.upload);
    env_["OCS_DOWNLOAD_PORT"] = std::to_string(ends.download);
    env_["OCS_PIC_UPLOAD_PORT"] = std::to_string(ends.gateway);
    env_["OCS_PIC_DOWNLOAD_PORT"] = std::to_string(ends.gateway_download);
    env_["OCS_POOL"] = Emulator::pool(0).name;
    env_["OCS_ACCESS_KEY"] = Emulator::pool(0).ak;
    env_["OCS_SECRET_KEY"] = Emulator::pool(0).sk;
  }

  // Sets a variable of the environment, or removes it (nullopt).
  void Set(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      env_[name] = *value;
    } else {
      env_.erase(name);
    }
  }
  const std::string& home() const { return home_.path(); }

  // Runs ocs with `args`, `input` on standard input.
  OcsResult Run(const std::vector<std::string>& args, const std::string& input = "") const {
    const std::string out = io_.path() + "/stdout";
    const std::string err = io_.path() + "/stderr";
    const int code = ExitCode(Command(args) + " <" + Quoted(io_.Write("stdin", input)) + " >" +
                              Quoted(out) + " 2>" + Quoted(err));
    return {code, ReadFile(out), ReadFile(err)};
  }
  // Starts ocs with `args`, standard input from `input_path`, and returns
  // at once; Finish waits for it.
  pid_t Start(const std::vector<std::string>& args,
              const std::string& input_path = "/dev/null") const {
    // exec: the child's pid is that of ocs itself.
    const std::string shell = "exec " + Command(args) + " <" + Quoted(input_path) + " >" +
                              Quoted(io_.path() + "/stdout") + " 2>" +
                              Quoted(io_.path() + "/stderr");
    const pid_t pid = fork();
    if (pid == 0) {
      execl("/bin/sh", "sh", "-c", shell.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }
  OcsResult Finish(pid_t pid) const {
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            ReadFile(io_.path() + "/stdout"), ReadFile(io_.path() + "/stderr")};
  }
  // Runs ocs on a pseudo-terminal (through script(1)).
  OcsResult RunOnTerminal(const std::vector<std::string>& args) const {
    const std::string out = io_.path() + "/terminal";
    const int code =
        ExitCode("script -qec " + Quoted(Command(args)) + " /dev/null </dev/null >" + Quoted(out));
    return {code, ReadFile(out), ""};
  }

 private:
  std::string Command(const std::vector<std::string>& args) const {
    std::string command = "env -i";
    for (const auto& [name, value] : env_) {
      command += " " + Quoted(std::string(name).append("=").append(value));
    }
    command += " " + Quoted(OCS_BINARY_PATH);
    for (const std::string& arg : args) command += " " + Quoted(arg);
    return command;
  }

  TempDir home_;
  TempDir io_;
  std::map<std::string, std::string> env_;
};

// Waits until the file at `path` holds bytes or the process `pid` has ended.
void AwaitPartialFile(const std::string& path, pid_t pid) {
  for (;;) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && info.st_size > 0) {
      return;
    }
    siginfo_t ended{};
    if (waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        ended.si_pid == pid) {
      return;
    }
    usleep(10000);
  }
}

// Waits until the process `pid` blocks SIGINT and SIGTERM, as ocs does first.
void AwaitBlockedInterrupts(pid_t pid) {
  const uint64_t both = (uint64_t{1} << (SIGINT - 1)) | (uint64_t{1} << (SIGTERM - 1));
  for (;;) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("SigBlk:", 0) == 0 &&
          (std::stoull(line.substr(7), nullptr, 16) & both) == both) {
        return;
      }
    }
    usleep(10000);
  }
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
    const std::string content = GeneratedBytes(size, 0, size);
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
  const std::string named = GeneratedBytes(7, 0, 3 * kMiB);
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
    const std::string content = GeneratedBytes(size, 0, size);
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
    EXPECT_EQ(cat.err,
              "error 9: NoSuchKey\nocs: no such object: check the URL (as put printed it)\n");
  }

  const std::string picture = "\xFF\xD8\xFF\xE0" + GeneratedBytes(11, 0, 3000) + "\xFF\xD9";
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
      // Nothing listens on port 1: four retries, then the failure.
      {{"cat", "/pool1/x"},
       {"OCS_DOWNLOAD_PORT=1"},
       1,
       "^(ocs: retry [2-5]/5 in [0-9]+ ms \\(error\\[7:111\\]\\)\n){4}"
       "error 4: .*could not talk to the service"},
      {{"get", "/pool1/never-stored", not_written}, {}, 1, "^error 5: .*\nocs: no such object"},
      {{"cat", "/pool1/never-stored"}, {}, 1, "^error 9: NoSuchKey\nocs: no such object"},
      {{"cat", "/pool1/x"}, {"OCS_SECRET_KEY=not-the-key"}, 1, "ocs: the service refused the keys"},
      {{"cat", "/no-such-pool/x"}, {}, 1, "^error 8: NoSuchBucket\nocs: no such pool"},
      {{"pic", "get", "/QuarnBox/Picture/pool1/none.jpg", "-"},
       {},
       1,
       "^error: picture download failed: "},
      {{"cat", "/pool1/x", "--range", "9-5"}, {}, 2, "range"},
      {{"--retries", "0", "cat", "/pool1/x"}, {}, 2, "^--retries: .*range 1 to 100"},
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

TEST_F(CliTest, TransientFaultsAreRetriedUnlessRetriesAreOff) {
  const std::string object = "/pool1/" + GeneratedKey(3 * kMiB, 4);
  const std::string target = files_.path() + "/fetched.bin";
  const std::string source = files_.Write("source.bin", GeneratedBytes(5, 0, kMiB));
  const std::string removed = Line(Ok({"put", "-"}, "to be removed"));
  const std::string transport = "error\\[[0-9]+:[0-9]+\\]";
  const std::string status_503 = "status code\\[503\\]";
  const struct {
    std::string fault;  // an admin API fault rule
    std::vector<std::string> args;
    int retries;        // notices shown with the default --retries
    std::string cause;  // a regular expression for the notices' cause
  } cases[] = {
      {R"({"kind":"status","status":503,"role":"download","count":2})",
       {"get", object, target},
       2,
       status_503},
      {R"({"kind":"reset_mid_body","role":"download"})", {"get", object, target}, 1, transport},
      {R"({"kind":"status","status":503,"role":"upload","path":"*?bestnode","count":2})",
       {"put", source},
       2,
       status_503},
      {R"({"kind":"reset","role":"node","method":"PUT"})", {"put", source}, 1, transport},
      {R"({"kind":"status","status":503,"role":"upload","method":"DELETE"})",
       {"rm", removed},
       1,
       status_503},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    // Without retries the first fault is the end (and leaves no partial file).
    emulator_->ClearFaults();
    ASSERT_EQ(emulator_->Admin("POST", "/faults", c.fault), 200);
    std::vector<std::string> once{"--retries", "1"};
    once.insert(once.end(), c.args.begin(), c.args.end());
    const OcsResult failed = ocs_.Run(once);
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_THAT(failed.err, Not(HasSubstr("retry")));
    EXPECT_FALSE(std::filesystem::exists(target));

    emulator_->ClearFaults();
    ASSERT_EQ(emulator_->Admin("POST", "/faults", c.fault), 200);
    const OcsResult retried = ocs_.Run(c.args);
    EXPECT_EQ(retried.exit_code, 0) << retried.err;
    std::string notices;
    for (int attempt = 2; attempt <= c.retries + 1; ++attempt) {
      notices +=
          "ocs: retry " + std::to_string(attempt) + "/5 in [0-9]+ ms \\(" + c.cause + "\\)\n";
    }
    EXPECT_THAT(retried.err, MatchesRegex(notices));
    if (c.args[0] == "get") {
      EXPECT_TRUE(ReadFile(target) == GeneratedBytes(4, 0, 3 * kMiB));
      std::filesystem::remove(target);
    }
  }
  emulator_->ClearFaults();
  EXPECT_EQ(ocs_.Run({"cat", removed}).exit_code, 1);  // the retried removal took effect
}

TEST_F(CliTest, SignalsCancelAndExitWith130) {
  const std::string object = "/pool1/" + GeneratedKey(8 * kMiB, 6);
  const std::string target = files_.path() + "/partial.bin";
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    // Half the object, then a stall that outlasts the test.
    ASSERT_EQ(emulator_->Admin("POST", "/faults",
                               R"({"kind":"stall","role":"download","delay_ms":600000})"),
              200);
    const pid_t pid = ocs_.Start({"get", object, target});
    AwaitPartialFile(target, pid);
    kill(pid, signal);
    const OcsResult cancelled = ocs_.Finish(pid);
    EXPECT_EQ(cancelled.exit_code, 130);
    EXPECT_EQ(cancelled.err, "ocs: cancelled\n");
    EXPECT_FALSE(std::filesystem::exists(target));
  }
  emulator_->ClearFaults();

  // Waiting for standard input, outside any library call, ocs ends at once.
  const std::string input = files_.path() + "/input";
  ASSERT_EQ(mkfifo(input.c_str(), 0600), 0);
  const pid_t pid = ocs_.Start({"put", "-"}, input);
  const int writer = open(input.c_str(), O_WRONLY);  // kept open: no end of input
  AwaitBlockedInterrupts(pid);
  kill(pid, SIGINT);
  const OcsResult ended = ocs_.Finish(pid);
  close(writer);
  EXPECT_EQ(ended.exit_code, 130);
  EXPECT_EQ(ended.err, "ocs: cancelled\n");
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
  const std::string path = files_.Write("progress.bin", GeneratedBytes(5, 0, 12 * kMiB));
  EXPECT_EQ(ocs_.Run({"put", path}).err, "");
  const OcsResult shown = ocs_.RunOnTerminal({"put", path});
  EXPECT_EQ(shown.exit_code, 0) << shown.out;
  EXPECT_THAT(shown.out, HasSubstr("100%  12.0 MiB / 12.0 MiB"));
  EXPECT_THAT(ocs_.RunOnTerminal({"--quiet", "put", path}).out, MatchesRegex("/pool1/[^/]+\r\n"));

  // A retry takes the bar's line, and the bar goes on below it.
  ASSERT_EQ(emulator_->Admin("POST", "/faults", R"({"kind":"reset_mid_body","role":"download"})"),
            200);
  const OcsResult retried = ocs_.RunOnTerminal(
      {"get", "/pool1/" + GeneratedKey(12 * kMiB, 7), files_.path() + "/retried.bin"});
  EXPECT_EQ(retried.exit_code, 0) << retried.out;
  EXPECT_THAT(retried.out, ContainsRegex("\rocs: retry 2/5 in [0-9]+ ms "
                                         "\\(error\\[[0-9]+:[0-9]+\\]\\)\x1b\\[K\r\n\\[#"));
  EXPECT_THAT(retried.out, HasSubstr("] 100%  12.0 MiB"));
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
