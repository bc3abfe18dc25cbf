// TLS failures as HttpClient::Error reports them, and ORCA_CS_TLS_INSECURE=1
// as a logged opt-out. Which CAs and host names are accepted is tested end to
// end against the emulator (faults/SecurityTest).
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <stdlib.h>

#include <string>
#include <thread>

#include "LogCapture.h"
#include "NetTestUtil.h"
#include "TestCerts.h"

namespace {

TEST(HttpTlsTest, UnverifiedPeerFailsAndTheOptOutWarnsOnce) {
  std::string dir = ::testing::TempDir() + "orca-net-XXXXXX";
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  const orca_test::TestPki pki = orca_test::MakeTestPki(dir);
  httplib::SSLServer server(pki.server_cert.c_str(), pki.server_key.c_str());
  server.Get(".*", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("secure", "text/plain");
  });
  server.set_keep_alive_timeout(1);  // lets stop() return soon after the last request
  const int port = server.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  std::thread listener([&server] { server.listen_after_bind(); });
  const std::string url = "https://127.0.0.1:" + std::to_string(port) + "/pool/key";

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
    for (int i = 0; i < 2; ++i) EXPECT_EQ(orca_test::Get(url).response.GetBody(), "secure");
  }
  server.stop();
  listener.join();
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
