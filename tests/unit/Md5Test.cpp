#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "StorageClient/Md5.h"

namespace Orca {
namespace CloudStorage {
namespace {

std::string Hex(const unsigned char* bytes, size_t size) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 0x0F];
  }
  return out;
}

std::string OurMd5Hex(const std::string& data) {
  Md5Context ctx{};
  Md5Init(ctx);
  Md5Update(ctx, data.data(), data.size());
  const Md5Digest digest = Md5Final(ctx);
  return Hex(digest.data(), digest.size());
}

std::string OpenSslMd5Hex(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(data.data(), data.size(), digest, &size, EVP_md5(), nullptr);
  return Hex(digest, size);
}

std::string OpenSslBase64(const std::string& text) {
  std::string out(4 * ((text.size() + 2) / 3), '\0');
  EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                  reinterpret_cast<const unsigned char*>(text.data()),
                  static_cast<int>(text.size()));
  return out;
}

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string out(size, '\0');
  for (char& c : out) {
    c = static_cast<char>(gen());
  }
  return out;
}

struct Rfc1321Case {
  const char* input;
  const char* digest;
};

TEST(Md5Test, Rfc1321TestSuite) {
  const Rfc1321Case cases[] = {
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
  for (const Rfc1321Case& c : cases) {
    EXPECT_EQ(OurMd5Hex(c.input), c.digest) << '"' << c.input << '"';
  }
}

TEST(Md5Test, PaddingBoundariesMatchOpenSsl) {
  for (size_t size : {55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129}) {
    const std::string data = RandomBytes(size, static_cast<uint32_t>(size));
    EXPECT_EQ(OurMd5Hex(data), OpenSslMd5Hex(data)) << size << " bytes";
  }
}

TEST(Md5Test, RandomBuffersInRandomPiecesMatchOpenSsl) {
  std::mt19937 gen(7);
  for (int round = 0; round < 50; ++round) {
    const std::string data = RandomBytes(gen() % 5000, gen());
    Md5Context ctx{};
    Md5Init(ctx);
    for (size_t at = 0; at < data.size();) {
      const size_t piece = std::min<size_t>(gen() % 150, data.size() - at);
      Md5Update(ctx, data.data() + at, piece);
      at += piece;
    }
    const Md5Digest digest = Md5Final(ctx);
    EXPECT_EQ(Hex(digest.data(), digest.size()), OpenSslMd5Hex(data)) << data.size() << " bytes";
  }
}

TEST(ContentMd5Test, WorkedExamples) {
  EXPECT_EQ(MakeContentMd5("abc", 3), "OTAwMTUwOTgzY2QyNGZiMGQ2OTYzZjdkMjhlMTdmNzI=");
  EXPECT_EQ(MakeContentMd5("", 0), "ZDQxZDhjZDk4ZjAwYjIwNGU5ODAwOTk4ZWNmODQyN2U=");
  EXPECT_EQ(MakeContentMd5(nullptr, 0), "ZDQxZDhjZDk4ZjAwYjIwNGU5ODAwOTk4ZWNmODQyN2U=");
}

TEST(ContentMd5Test, IsBase64OfLowerCaseHexDigest) {
  for (uint32_t size : {1u, 64u, 1000u, 2u * 1024 * 1024 + 1}) {
    const std::string data = RandomBytes(size, size);
    const std::string value = MakeContentMd5(data.data(), size);
    EXPECT_EQ(value.size(), 44u);
    EXPECT_EQ(value.back(), '=');
    EXPECT_EQ(value, OpenSslBase64(OpenSslMd5Hex(data)));
  }
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
