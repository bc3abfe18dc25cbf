// Our MD5 against RFC 1321's test suite and OpenSSL's MD5, and the
// Content-MD5 value built on it.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>

#include "StorageClient/wire/Md5.h"

namespace Orca {
namespace CloudStorage {
namespace {

std::string Hex(const unsigned char* bytes, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out += {"0123456789abcdef"[bytes[i] >> 4], "0123456789abcdef"[bytes[i] & 15]};
  }
  return out;
}

// Our digest of `data`, fed whole or, given `pieces`, in random pieces.
std::string OurMd5Hex(const std::string& data, std::mt19937* pieces = nullptr) {
  Md5Context ctx{};
  Md5Init(ctx);
  for (size_t at = 0; at < data.size();) {
    const size_t left = data.size() - at;
    const size_t piece = pieces == nullptr ? left : std::min<size_t>((*pieces)() % 150, left);
    Md5Update(ctx, data.data() + at, piece);
    at += piece;
  }
  const Md5Digest digest = Md5Final(ctx);
  return Hex(digest.data(), digest.size());
}

std::string OpenSslMd5Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), digest, &size, EVP_md5(), nullptr);
  return Hex(digest, size);
}

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  return out;
}

TEST(Md5Test, Rfc1321TestSuite) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
       "0",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [input, digest] : cases) {
    EXPECT_EQ(OurMd5Hex(input), digest) << '"' << input << '"';
  }
}

TEST(Md5Test, MatchesOpenSsl) {
  // Around the padding boundaries of one and two blocks, fed whole.
  for (size_t size : {55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129}) {
    const std::string data = RandomBytes(size, static_cast<uint32_t>(size));
    EXPECT_EQ(OurMd5Hex(data), OpenSslMd5Hex(data)) << size << " bytes";
  }
  // Random buffers fed in random pieces.
  std::mt19937 gen(7);
  for (int round = 0; round < 50; ++round) {
    const std::string data = RandomBytes(gen() % 5000, gen());
    EXPECT_EQ(OurMd5Hex(data, &gen), OpenSslMd5Hex(data)) << data.size() << " bytes";
  }
}

TEST(ContentMd5Test, IsBase64OfTheLowerCaseHexDigest) {
  EXPECT_EQ(MakeContentMd5("abc", 3), "OTAwMTUwOTgzY2QyNGZiMGQ2OTYzZjdkMjhlMTdmNzI=");
  EXPECT_EQ(MakeContentMd5(nullptr, 0), "ZDQxZDhjZDk4ZjAwYjIwNGU5ODAwOTk4ZWNmODQyN2U=");
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
