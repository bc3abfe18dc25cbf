#include "emulator/service/Crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <stdexcept>
#include <vector>

namespace ocs {
namespace {

std::string ToHex(const unsigned char* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex(size * 2, '0');
  for (size_t i = 0; i < size; ++i) {
    hex[2 * i] = kDigits[data[i] >> 4];
    hex[2 * i + 1] = kDigits[data[i] & 0x0f];
  }
  return hex;
}

}  // namespace

std::string Base64Encode(const void* data, size_t size) {
  std::vector<unsigned char> out(4 * ((size + 2) / 3) + 1);
  const int written =
      EVP_EncodeBlock(out.data(), static_cast<const unsigned char*>(data), static_cast<int>(size));
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(written));
}

std::string HmacSha1Base64(const std::string& key, const std::string& message) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest, &length);
  return Base64Encode(digest, length);
}

std::string ContentMd5FromHex(const std::string& hex_digest) {
  return Base64Encode(hex_digest.data(), hex_digest.size());
}

std::string RandomHex(size_t bytes) {
  std::vector<unsigned char> buffer(bytes);
  if (RAND_bytes(buffer.data(), static_cast<int>(bytes)) != 1) {
    throw std::runtime_error("RAND_bytes failed");
  }
  return ToHex(buffer.data(), bytes);
}

Md5::Md5() : ctx_(EVP_MD_CTX_new()) {
  if (ctx_ == nullptr || EVP_DigestInit_ex(ctx_, EVP_md5(), nullptr) != 1) {
    throw std::runtime_error("MD5 is not available");
  }
}

Md5::~Md5() { EVP_MD_CTX_free(ctx_); }

void Md5::Update(const void* data, size_t size) {
  if (hex_.empty()) {
    EVP_DigestUpdate(ctx_, data, size);
  }
}

std::string Md5::HexDigest() {
  if (hex_.empty()) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx_, digest, &length);
    hex_ = ToHex(digest, length);
  }
  return hex_;
}

std::string Md5Hex(const std::string& data) {
  Md5 md5;
  md5.Update(data.data(), data.size());
  return md5.HexDigest();
}

}  // namespace ocs
