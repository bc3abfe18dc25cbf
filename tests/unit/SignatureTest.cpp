#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "StorageClient/Signature.h"
#include "base/Clock.h"

namespace Orca {
namespace CloudStorage {
namespace {

std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

std::string Base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3), '\0');
  EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                  reinterpret_cast<const unsigned char*>(bytes.data()),
                  static_cast<int>(bytes.size()));
  return out;
}

// HMAC-SHA1 computed here, independently of the code under test.
std::string ExpectedSignature(const std::string& text, const std::string& key) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest, &size);
  return Base64(std::string(reinterpret_cast<char*>(digest), size));
}

struct HmacCase {
  std::string key;
  std::string data;
  const char* digest_hex;
};

TEST(SignatureTest, Rfc2202HmacSha1Vectors) {
  std::string key4;
  for (char c = 1; c <= 25; ++c) key4 += c;
  const HmacCase cases[] = {
      {std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
      {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {std::string(20, '\xaa'), std::string(50, '\xdd'),
       "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
      {key4, std::string(50, '\xcd'), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
      {std::string(20, '\x0c'), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {std::string(80, '\xaa'),
       "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
  };
  for (const HmacCase& c : cases) {
    const std::string signature = SignText(c.data, c.key);
    EXPECT_EQ(signature, Base64(FromHex(c.digest_hex))) << c.data;
    EXPECT_EQ(signature.size(), 28u);
    EXPECT_EQ(signature.back(), '=');
  }
}

TEST(SignatureTest, ObjectStringToSignHasFiveLineFeeds) {
  const std::string date = "Fri,  4 Dec 2026 12:55:16 GMT";
  EXPECT_EQ(
      MakeSignature("GET", "", "application/xml; charset=utf-8", date, "", "/p1/a.pfile?bestnode",
                    "secret"),
      ExpectedSignature(
          "GET\n\napplication/xml; charset=utf-8\n" + date + "\n\n/p1/a.pfile?bestnode", "secret"));
  EXPECT_EQ(MakeSignature("GET", "", "", date, "", "/p/k", "s"),
            ExpectedSignature("GET\n\n\n" + date + "\n\n/p/k", "s"));
  EXPECT_EQ(MakeSignature("PUT", "MD5", "binary/octet-stream", date, "", "/p/k", ""),
            ExpectedSignature("PUT\nMD5\nbinary/octet-stream\n" + date + "\n\n/p/k", ""));
}

TEST(SignatureTest, PictureStringToSignHasFourLineFeeds) {
  const std::string date = "Mon, 14 Dec 2026 12:55:16 GMT";
  const std::string expected =
      ExpectedSignature("POST\n\nmultipart/form-data\n" + date + "\n/QuarnBox/Picture/Write", "k");
  EXPECT_EQ(
      MakePicSignature("POST", "", "multipart/form-data", date, "/QuarnBox/Picture/Write", "k"),
      expected);
  EXPECT_NE(
      MakeSignature("POST", "", "multipart/form-data", date, "", "/QuarnBox/Picture/Write", "k"),
      expected);
}

TEST(SignatureTest, EveryInputChangesTheSignature) {
  const std::string base = MakeSignature("GET", "m", "t", "d", "h", "/r", "k");
  EXPECT_EQ(base, MakeSignature("GET", "m", "t", "d", "h", "/r", "k"));
  EXPECT_NE(base, MakeSignature("PUT", "m", "t", "d", "h", "/r", "k"));
  EXPECT_NE(base, MakeSignature("GET", "n", "t", "d", "h", "/r", "k"));
  EXPECT_NE(base, MakeSignature("GET", "m", "u", "d", "h", "/r", "k"));
  EXPECT_NE(base, MakeSignature("GET", "m", "t", "e", "h", "/r", "k"));
  EXPECT_NE(base, MakeSignature("GET", "m", "t", "d", "i", "/r", "k"));
  EXPECT_NE(base, MakeSignature("GET", "m", "t", "d", "h", "/s", "k"));
  EXPECT_NE(base, MakeSignature("GET", "m", "t", "d", "h", "/r", "K"));
}

TEST(SignatureTest, AuthorizationValue) {
  EXPECT_EQ(MakeAuthorization("AK1", "c2ln"), "quarnbox AK1:c2ln");
}

struct DateCase {
  int64_t unix_seconds;
  const char* text;
};

TEST(HttpDateTest, FixedInstants) {
  const DateCase cases[] = {
      {1796388916, "Fri,  4 Dec 2026 12:55:16 GMT"},  // a day below 10: space-padded
      {1797252916, "Mon, 14 Dec 2026 12:55:16 GMT"},
      {951868799, "Tue, 29 Feb 2000 23:59:59 GMT"},
      {0, "Thu,  1 Jan 1970 00:00:00 GMT"},
  };
  for (const DateCase& c : cases) {
    EXPECT_EQ(FormatHttpDate(c.unix_seconds), c.text);
  }
}

TEST(HttpDateTest, UtcWhateverTheTimeZone) {
  const char* old_tz = std::getenv("TZ");
  const std::string saved = old_tz != nullptr ? old_tz : "";
  setenv("TZ", "Pacific/Kiritimati", 1);  // UTC+14: a different calendar day
  tzset();
  const std::string text = FormatHttpDate(1796388916);
  if (old_tz != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  EXPECT_EQ(text, "Fri,  4 Dec 2026 12:55:16 GMT");
}

TEST(HttpDateTest, MakeHttpDateReadsTheClock) {
  Base::SetClockForTesting([]() -> int64_t { return 1797252916; });
  const std::string text = MakeHttpDate();
  Base::SetClockForTesting(nullptr);
  EXPECT_EQ(text, "Mon, 14 Dec 2026 12:55:16 GMT");
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
