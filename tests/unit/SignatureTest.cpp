// HMAC-SHA1 signatures and the HTTP date against known answers. Both strings
// to sign are checked on every request by the protocol wire tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "StorageClient/wire/Signature.h"
#include "base/Clock.h"

namespace Orca {
namespace CloudStorage {
namespace {

TEST(SignatureTest, Rfc2202HmacSha1Vectors) {
  std::string key4;
  for (char c = 1; c <= 25; ++c) key4 += c;
  const struct {
    std::string key;
    std::string data;
    const char* digest;  // the RFC's digest, Base64-encoded
  } cases[] = {
      {std::string(20, '\x0b'), "Hi There", "thcxhlUFcmTii8C2+zeMjvFGvgA="},
      {"Jefe", "what do ya want for nothing?", "7/zfauXrL6LSdBbV8YTfnCWafHk="},
      {std::string(20, '\xaa'), std::string(50, '\xdd'), "El1zQrmsEc2Ro5r0iqF7T2PxddM="},
      {key4, std::string(50, '\xcd'), "TJAH9AJiUMa8hBT5v1DIbC1yNdo="},
      {std::string(20, '\x0c'), "Test With Truncation", "TBoDQktV4H/n8nvh1Yu5MkqaWgQ="},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "qkrl4VJy0A6VcFY3zoo7Ve1AIRI="},
      {std::string(80, '\xaa'),
       "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       "6OmdD0UjfXhta7qnllx4CLv/GpE="},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SignText(c.data, c.key), c.digest) << c.data;
  }
}

TEST(HttpDateTest, FixedInstants) {
  const std::pair<int64_t, const char*> cases[] = {
      {1796388916, "Fri,  4 Dec 2026 12:55:16 GMT"},  // a day below 10: space-padded
      {1797252916, "Mon, 14 Dec 2026 12:55:16 GMT"},
      {951868799, "Tue, 29 Feb 2000 23:59:59 GMT"},
  };
  for (const auto& [unix_seconds, text] : cases) {
    EXPECT_EQ(FormatHttpDate(unix_seconds), text);
  }
}

TEST(HttpDateTest, MakeHttpDateReadsTheClockInUtcWhateverTheTimeZone) {
  const char* old_tz = std::getenv("TZ");
  const std::string saved = old_tz != nullptr ? old_tz : "";
  setenv("TZ", "Pacific/Kiritimati", 1);  // UTC+14: a different calendar day
  tzset();
  Base::SetClockForTesting([]() -> int64_t { return 1796388916; });
  const std::string text = MakeHttpDate();
  Base::SetClockForTesting(nullptr);
  old_tz != nullptr ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
  EXPECT_EQ(text, "Fri,  4 Dec 2026 12:55:16 GMT");
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
