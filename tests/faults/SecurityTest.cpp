// Security: secret keys stay out of log records and error messages, and TLS
// peers are verified unless that is switched off explicitly. The emulator's
// signature, Date, Content-MD5 and key checks are in the emulator's own tests.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

constexpr char kOwnSecret[] = "sk-never-logged-4711";

// Sets or, with nullptr, removes an environment variable.
void SetEnv(const char* name, const char* value) {
  value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
}

int32_t LastCode(CObjectClient& client) {
  int32_t code = 0;
  std::string message;
  client.GetLastError(code, message);
  CheckNoSecret(message, "error message");
  return code;
}

TEST(SecretGuardTest, FailsATestWhoseLogOrMessageHoldsASecret) {
  EXPECT_NONFATAL_FAILURE(veklog::Write(5, "test", "[x]sk is %s[y]", "ocs-test-sk1"),
                          "a secret key");
  EXPECT_NONFATAL_FAILURE(CheckNoSecret("message with wire-secret-key in it", "error message"),
                          "a secret key");
  veklog::Write(5, "test", "[x]sk[<12 bytes hidden>][y]");  // masked: no failure
}

TEST(SecretGuardTest, FailingOperationsNeverShowTheSecret) {
  WatchSecret(kOwnSecret);
  Emulator emulator;
  SStorageServerConfig config = emulator.ObjectConfig();
  config.sk = kOwnSecret;  // not the pool's: every request is refused
  CObjectClient client(config);
  std::string url;
  EXPECT_FALSE(client.UploadFile(url, "data", 4));
  EXPECT_FALSE(client.DownloadFile("/pool1/" + GeneratedKey(100, 1), emulator.data_dir() + "/x"));
  EXPECT_FALSE(client.RemoveFileByUrl("/pool1/none"));
  std::string version;
  Orca::CloudStorage::SStorageServerInfo info = emulator.VersionServer();
  info.sk = kOwnSecret;
  EXPECT_FALSE(client.GetStorageVersion(version, info));
  EXPECT_EQ(LastCode(client), 5);
  config.ip.clear();  // Init's log record names the keys, masked
  EXPECT_FALSE(CObjectClient(config).Init());
  EXPECT_FALSE(CPictureClient(config).Init());
}

// HTTPS against an emulator on every loopback address, with a certificate
// for localhost and 127.0.0.1 from its own throw-away CA.
TEST(TlsVerificationTest, OnByDefaultAndOffOnlyWhenExplicitlySet) {
  EmulatorOptions options;
  options.https = true;
  options.extra_args = {"--listen", "0.0.0.0"};
  Emulator emulator(options);
  const std::string other_dir = emulator.data_dir() + "/../other-ca";
  std::filesystem::create_directories(other_dir);
  const std::string other_ca = MakeTestPki(other_dir).ca_cert;
  const std::string& own_ca = emulator.ca_bundle();
  const struct {
    const char* name;
    const char* bundle;  // null: the system store
    const char* insecure;
    const char* ip;
    int32_t code;
  } cases[] = {
      {"trusted CA, address", own_ca.c_str(), nullptr, "127.0.0.1", 0},
      {"trusted CA, name", own_ca.c_str(), nullptr, "localhost", 0},
      {"system store only", nullptr, nullptr, "127.0.0.1", 4},
      {"another CA", other_ca.c_str(), nullptr, "127.0.0.1", 4},
      {"name not in the certificate", own_ca.c_str(), nullptr, "127.0.0.2", 4},
      {"opt-out empty", other_ca.c_str(), "", "127.0.0.1", 4},
      {"opt-out 0", other_ca.c_str(), "0", "127.0.0.1", 4},
      {"opt-out true", other_ca.c_str(), "true", "127.0.0.1", 4},
      {"opt-out 1", other_ca.c_str(), "1", "127.0.0.1", 0},
      {"opt-out 1, wrong name", other_ca.c_str(), "1", "127.0.0.2", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetEnv("ORCA_CS_CA_BUNDLE", c.bundle);
    SetEnv("ORCA_CS_TLS_INSECURE", c.insecure);
    SStorageServerConfig config = emulator.ObjectConfig();
    config.ip = c.ip;
    CObjectClient client(config);
    char* buffer = nullptr;
    uint32_t length = 0;
    const bool ok = client.DownloadFile(&buffer, length, "/pool1/" + GeneratedKey(1000, 3));
    delete[] buffer;
    EXPECT_EQ(ok ? 0 : LastCode(client), c.code);
  }
  SetEnv("ORCA_CS_CA_BUNDLE", nullptr);
  SetEnv("ORCA_CS_TLS_INSECURE", nullptr);
}

}  // namespace
}  // namespace orca_test
