// Every service port over HTTPS, with certificates of a throw-away CA.
#include <gtest/gtest.h>

#include "RawClient.h"

namespace orca_test {
namespace {

class HttpsTest : public ::testing::Test {
 protected:
  HttpsTest() : emulator_(Https()), session_(emulator_) {}
  static EmulatorOptions Https() {
    EmulatorOptions options;
    options.https = true;
    return options;
  }

  Emulator emulator_;
  ObjectSession session_;
};

TEST_F(HttpsTest, ServesTheProtocolOverVerifiedTls) {
  ASSERT_FALSE(emulator_.ca_bundle().empty());
  const auto put = session_.Put("secure", "over tls");
  ASSERT_TRUE(put) << httplib::to_string(put.error());
  EXPECT_EQ(put->status, 200);
  EXPECT_EQ(session_.Get("secure")->body, "over tls");
  const std::string large = GeneratedBytes(13, 0, (size_t{2} << 20) + 5);
  ASSERT_EQ(session_.Put("large", large)->status, 200);
  EXPECT_TRUE(session_.Get("large")->body == large);
  EXPECT_EQ(session_.Get(GeneratedKey(1 << 20, 6), "bytes=1000-1999")->body,
            GeneratedBytes(6, 1000, 1000));
}

TEST_F(HttpsTest, RedirectsNameHttpsLocations) {
  ASSERT_EQ(session_.Put("moved", "here")->status, 200);
  emulator_.SetRedirect("always", 301);
  const auto moved = session_.Get("moved");
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->status, 301);
  EXPECT_EQ(moved->get_header_value("Location").rfind("https://127.0.0.1:", 0), 0u);
  EmulatorFault bad;
  bad.kind = "bad_location";
  emulator_.AddFault(bad);
  EXPECT_EQ(session_.Get("moved")->get_header_value("Location").rfind("http://", 0), 0u)
      << "the wrong scheme for an HTTPS client";
}

TEST_F(HttpsTest, RefusesPlainHttp) {
  httplib::Client plain("127.0.0.1", emulator_.endpoints().download);
  plain.set_read_timeout(5, 0);
  const auto result = plain.Get("/pool1/x");
  EXPECT_TRUE(!result || result->status >= 400);
  EXPECT_EQ(emulator_.Admin("GET", "/health"), 200) << "the admin port stays plain HTTP";
}

}  // namespace
}  // namespace orca_test
