// TLS failures as HttpClient::Error reports them, and ORCA_CS_TLS_INSECURE=1
// as a logged opt-out. Which CAs and host names are accepted is tested end to
// end against the emulator (faults/SecurityTest).
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "Emulator.h"
#include "LogCapture.h"
#include "NetTestUtil.h"

namespace {

TEST(HttpTlsTest, UnverifiedPeerFailsAndTheOptOutWarnsOnce) {
  orca_test::EmulatorOptions options;  // its own throw-away CA, unknown to the system store
  options.https = true;
  options.no_auth = true;
  orca_test::Emulator emulator(options);
  const std::string url = "https://127.0.0.1:" + std::to_string(emulator.endpoints().download) +
                          "/pool1/" + orca_test::GeneratedKey(6, 1);

  orca_test::ScopedEnv system_store("ORCA_CS_CA_BUNDLE", nullptr);
  orca_test::LogCapture log;
  {
    orca_test::ScopedEnv verified("ORCA_CS_TLS_INSECURE", nullptr);
    const auto got = orca_test::Get(url);
    EXPECT_FALSE(got.ok);
    EXPECT_EQ(got.error.major, CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_NE(got.error.minor, 0);
  }
  {
    orca_test::ScopedEnv insecure("ORCA_CS_TLS_INSECURE", "1");
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(orca_test::Get(url).response.GetBody(), orca_test::GeneratedBytes(1, 0, 6));
    }
  }
  int warnings = 0;
  for (const auto& record : log.Records()) {
    warnings += record.module == "platform.Net" && record.level == 4 &&
                record.message.find("ORCA_CS_TLS_INSECURE") != std::string::npos;
  }
  // Once per process, however many requests opt out (no other test opts out).
  static bool warned_before = false;
  EXPECT_EQ(warnings, warned_before ? 0 : 1);
  warned_before = true;
}

}  // namespace
