// Security: secret keys stay out of log records and error messages, TLS
// peers are verified unless that is switched off explicitly, and the
// emulator refuses forged, replayed, tampered and escaping requests.
#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "OrcaCloudStorage/StorageClient.h"
#include "SecretGuard.h"
#include "TestCerts.h"
#include "log/VekLog.h"

namespace orca_test {
namespace {

using Orca::CloudStorage::CObjectClient;
using Orca::CloudStorage::CPictureClient;
using Orca::CloudStorage::SStorageServerConfig;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr char kOwnSecret[] = "sk-never-logged-4711";

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    old_ = had_ ? old : "";
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      ::setenv(name_, old_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

std::string LastMessage(CObjectClient& client, int32_t& code) {
  std::string message;
  client.GetLastError(code, message);
  return message;
}

TEST(SecretGuardTest, FailsATestWhoseLogHoldsASecret) {
  EXPECT_NONFATAL_FAILURE(veklog::Write(5, "test", "[x]sk is %s[y]", "ocs-test-sk1"),
                          "a secret key");
  EXPECT_NONFATAL_FAILURE(CheckNoSecret("message with wire-secret-key in it", "error message"),
                          "a secret key");
  // Masked forms do not trip it.
  veklog::Write(5, "test", "[x]sk[<12 bytes hidden>][y]");
}

TEST(SecretGuardTest, FailingOperationsNeverShowTheSecret) {
  WatchSecret(kOwnSecret);
  Emulator emulator;
  SStorageServerConfig config = emulator.ObjectConfig();
  config.sk = kOwnSecret;  // not the pool's: every request is refused
  CObjectClient client(config);
  std::string url;
  const std::string data(1000, 'x');
  EXPECT_FALSE(client.UploadFile(url, data.data(), static_cast<uint32_t>(data.size())));
  char* buffer = nullptr;
  uint32_t length = 0;
  EXPECT_FALSE(client.DownloadFile(&buffer, length, "/pool1/" + GeneratedKey(100, 1)));
  EXPECT_FALSE(
      client.DownloadFile("/pool1/" + GeneratedKey(100, 1), emulator.data_dir() + "/../local.bin"));
  EXPECT_FALSE(client.RemoveFileByUrl("/pool1/none"));
  std::string version;
  Orca::CloudStorage::SStorageServerInfo info = emulator.VersionServer();
  info.sk = kOwnSecret;
  EXPECT_FALSE(client.GetStorageVersion(version, info));
  config.ip.clear();
  CObjectClient invalid(config);
  EXPECT_FALSE(invalid.Init());  // its log record names the keys, masked
  CPictureClient pictures(config);
  EXPECT_FALSE(pictures.Init());

  int32_t code = 0;
  const std::string message = LastMessage(client, code);
  EXPECT_EQ(code, 5) << message;
  CheckNoSecret(message, "error message");
}

// HTTPS against an emulator that listens on every loopback address, with a
// certificate for localhost and 127.0.0.1 from its own throw-away CA.
class TlsVerificationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    EmulatorOptions options;
    options.https = true;
    options.extra_args = {"--listen", "0.0.0.0"};
    emulator_ = new Emulator(options);
    other_ca_dir_ = emulator_->data_dir() + "/../other-ca";
    std::filesystem::create_directories(other_ca_dir_);
    other_ca_ = MakeTestPki(other_ca_dir_).ca_cert;
  }
  static void TearDownTestSuite() {
    delete emulator_;
    emulator_ = nullptr;
  }

  // Fetches a generated object over HTTPS from `ip`; the code on failure.
  static int32_t Fetch(const std::string& ip) {
    SStorageServerConfig config = emulator_->ObjectConfig();
    config.ip = ip;
    CObjectClient client(config);
    char* buffer = nullptr;
    uint32_t length = 0;
    if (client.DownloadFile(&buffer, length, "/pool1/" + GeneratedKey(1000, 3))) {
      delete[] buffer;
      return 0;
    }
    int32_t code = 0;
    LastMessage(client, code);
    return code;
  }

  static Emulator* emulator_;
  static std::string other_ca_dir_;
  static std::string other_ca_;
};

Emulator* TlsVerificationTest::emulator_ = nullptr;
std::string TlsVerificationTest::other_ca_dir_;
std::string TlsVerificationTest::other_ca_;

TEST_F(TlsVerificationTest, TrustedCaAndMatchingNameSucceed) {
  ScopedEnv bundle("ORCA_CS_CA_BUNDLE", emulator_->ca_bundle().c_str());
  EXPECT_EQ(Fetch("127.0.0.1"), 0);
  EXPECT_EQ(Fetch("localhost"), 0);
}

TEST_F(TlsVerificationTest, UnknownCaOrWrongNameFails) {
  struct Case {
    const char* name;
    const char* bundle;  // null: the system store
    const char* ip;
  };
  const Case cases[] = {
      {"system store only", nullptr, "127.0.0.1"},
      {"another CA", other_ca_.c_str(), "127.0.0.1"},
      {"name not in the certificate", emulator_->ca_bundle().c_str(), "127.0.0.2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv bundle("ORCA_CS_CA_BUNDLE", c.bundle);
    ScopedEnv insecure("ORCA_CS_TLS_INSECURE", nullptr);
    EXPECT_EQ(Fetch(c.ip), 4);
  }
}

TEST_F(TlsVerificationTest, OnlyAnExplicitOptOutSkipsVerification) {
  ScopedEnv bundle("ORCA_CS_CA_BUNDLE", other_ca_.c_str());
  for (const char* value : {"", "0", "true", "yes", "on"}) {
    SCOPED_TRACE(std::string("ORCA_CS_TLS_INSECURE=") + value);
    ScopedEnv insecure("ORCA_CS_TLS_INSECURE", value);
    EXPECT_EQ(Fetch("127.0.0.1"), 4);
  }
  ScopedEnv insecure("ORCA_CS_TLS_INSECURE", "1");
  EXPECT_EQ(Fetch("127.0.0.1"), 0);
  EXPECT_EQ(Fetch("127.0.0.2"), 0);
}

// The emulator with a clock-skew allowance of 2 s, so that a captured
// request goes stale quickly.
class RequestCheckTest : public ::testing::Test {
 protected:
  static constexpr int kMaxSkewSeconds = 2;

  RequestCheckTest() : emulator_(Options()), client_(emulator_.ObjectConfig()) {}

  static EmulatorOptions Options() {
    EmulatorOptions options;
    options.extra_args = {"--max-skew", std::to_string(kMaxSkewSeconds)};
    return options;
  }

  // The one journal entry of `method` whose query is `query`.
  EmulatorRequest Captured(const std::string& method, const std::string& query) {
    for (const EmulatorRequest& request : emulator_.Journal()) {
      if (request.method == method && request.query == query) {
        return request;
      }
    }
    ADD_FAILURE() << "no " << method << " ?" << query << " in the journal";
    return {};
  }

  // Sends `captured` again, byte for byte as far as the signature goes,
  // with `body`. Returns the answer's status and, in `answer`, its body.
  int Replay(const EmulatorRequest& captured, const std::string& body, std::string* answer) {
    httplib::Client raw("127.0.0.1", captured.port);
    httplib::Headers headers;
    for (const char* name : {"Date", "Authorization", "Content-MD5", "Host"}) {
      if (!captured.Header(name).empty()) {
        headers.emplace(name, captured.Header(name));
      }
    }
    if (captured.method == "GET") {
      headers.emplace("Content-Type", captured.Header("Content-Type"));
    }
    const std::string target =
        captured.query.empty() ? captured.path : captured.path + "?" + captured.query;
    const httplib::Result result =
        captured.method == "PUT" ? raw.Put(target, headers, body, captured.Header("Content-Type"))
                                 : raw.Get(target, headers);
    if (!result) {
      ADD_FAILURE() << "the replay got no answer";
      return 0;
    }
    *answer = result->body;
    return result->status;
  }

  static void WaitPastSkew() {
    std::this_thread::sleep_for(std::chrono::seconds(kMaxSkewSeconds + 2));
  }

  Emulator emulator_;
  CObjectClient client_;
};

TEST_F(RequestCheckTest, BadSignatureIsRefused) {
  SStorageServerConfig config = emulator_.ObjectConfig();
  config.sk = "ocs-test-sk2";  // a real key, of another pool
  CObjectClient forger(config);
  std::string url;
  EXPECT_FALSE(forger.UploadFile(url, "data", 4));
  int32_t code = 0;
  EXPECT_EQ(LastMessage(forger, code), "get best node rsp status code[403].");
  std::string answer;
  EXPECT_EQ(Replay(Captured("GET", "bestnode"), "", &answer), 403);
  EXPECT_THAT(answer, HasSubstr("SignatureDoesNotMatch"));
  EXPECT_TRUE(emulator_.Objects("pool1").empty());
}

TEST_F(RequestCheckTest, ReplayedRequestWithStaleDateIsRefused) {
  std::string url;
  ASSERT_TRUE(client_.UploadFile(url, "data", 4));
  const EmulatorRequest best_node = Captured("GET", "bestnode");
  std::string answer;
  ASSERT_EQ(Replay(best_node, "", &answer), 200) << answer;  // a faithful replay
  WaitPastSkew();
  EXPECT_EQ(Replay(best_node, "", &answer), 403);
  EXPECT_THAT(answer, HasSubstr("RequestTimeTooSkewed"));
}

TEST_F(RequestCheckTest, BodyNotMatchingItsContentMd5IsRefused) {
  const std::string data = "the object as signed";
  std::string url;
  ASSERT_TRUE(client_.UploadFile(url, data.data(), static_cast<uint32_t>(data.size())));
  const EmulatorRequest put = Captured("PUT", "");
  std::string tampered = data;
  tampered[0] = 'T';
  std::string answer;
  EXPECT_EQ(Replay(put, tampered, &answer), 400);
  EXPECT_THAT(answer, HasSubstr("BadDigest"));
  char* buffer = nullptr;
  uint32_t length = 0;
  ASSERT_TRUE(client_.DownloadFile(&buffer, length, url));
  EXPECT_EQ(std::string(buffer, length), data);
  delete[] buffer;
}

TEST_F(RequestCheckTest, KeysThatClimbOutOfThePoolAreRefused) {
  const std::string data = "escape attempt";
  const char* const keys[] = {"../escaped.bin", "a/../../escaped.bin", "%2e%2e/escaped.bin",
                              "..%2Fescaped.bin", ".."};
  for (const char* key : keys) {
    SCOPED_TRACE(key);
    std::string url = key;
    EXPECT_FALSE(client_.UploadFileByPiecesAndFileName(
        url, data.data(), static_cast<uint32_t>(data.size()), true, true));
    int32_t code = 0;
    EXPECT_THAT(LastMessage(client_, code), StartsWith("get best node rsp status code[40"));
    char* buffer = nullptr;
    uint32_t length = 0;
    EXPECT_FALSE(client_.DownloadFile(&buffer, length, std::string("/pool1/") + key));
    EXPECT_FALSE(client_.RemoveFileByUrl(std::string("/pool1/") + key));
  }
  EXPECT_TRUE(emulator_.Objects("pool1").empty());
  EXPECT_TRUE(emulator_.Objects("pool2").empty());
  const std::filesystem::path root = std::filesystem::path(emulator_.data_dir()).parent_path();
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    EXPECT_THAT(entry.path().filename().string(), ::testing::Not(HasSubstr("escaped")))
        << entry.path();
  }
}

}  // namespace
}  // namespace orca_test
