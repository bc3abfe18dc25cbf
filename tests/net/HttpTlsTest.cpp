// TLS: peers verified against ORCA_CS_CA_BUNDLE (or the system store), host
// names checked, and ORCA_CS_TLS_INSECURE=1 as a logged opt-out.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "LogCapture.h"
#include "NetTestUtil.h"

namespace {

TEST(HttpTlsTest, VerificationFollowsTheEnvironment) {
  const orca_test::TestPki pki = orca_test::NewTestPki();
  orca_test::TlsServer named(pki, "127.0.0.1");    // the certificate names 127.0.0.1 and localhost
  orca_test::TlsServer unnamed(pki, "127.0.0.2");  // ... but not 127.0.0.2
  ASSERT_GT(named.port(), 0);
  ASSERT_GT(unnamed.port(), 0);
  const char* ca = pki.ca_cert.c_str();
  const struct {
    const char* name;
    const char* host;
    const char* ca_bundle;
    const char* insecure;
    bool ok;
  } cases[] = {
      {"bundle, address in certificate", "127.0.0.1", ca, nullptr, true},
      {"bundle, name in certificate", "localhost", ca, nullptr, true},
      {"system store only", "127.0.0.1", nullptr, nullptr, false},
      {"bundle, host not in certificate", "127.0.0.2", ca, nullptr, false},
      {"opt-out other than 1", "127.0.0.1", nullptr, "0", false},
      {"opt-out", "127.0.0.1", nullptr, "1", true},
      {"opt-out, host not in certificate", "127.0.0.2", nullptr, "1", true},
  };
  orca_test::LogCapture log;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    orca_test::ScopedEnv bundle("ORCA_CS_CA_BUNDLE", c.ca_bundle);
    orca_test::ScopedEnv insecure("ORCA_CS_TLS_INSECURE", c.insecure);
    const int port = std::string(c.host) == "127.0.0.2" ? unnamed.port() : named.port();
    const auto got =
        orca_test::Get("https://" + std::string(c.host) + ":" + std::to_string(port) + "/pool/key");
    EXPECT_EQ(got.ok, c.ok);
    if (c.ok) {
      EXPECT_EQ(got.response.GetBody(), "secure");
    } else {
      EXPECT_EQ(got.error.major, CURLE_PEER_FAILED_VERIFICATION);
      EXPECT_NE(got.error.minor, 0);
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
