// The emulator's own digests and encodings, on OpenSSL's EVP and HMAC calls,
// so that requests are checked independently of the client's code.
#ifndef OCS_EMULATOR_SERVICE_CRYPTO_H_
#define OCS_EMULATOR_SERVICE_CRYPTO_H_

#include <openssl/types.h>

#include <cstddef>
#include <string>

namespace ocs {

// Standard Base64 (RFC 4648, "=" padded).
std::string Base64Encode(const void* data, size_t size);

// Base64 of HMAC-SHA1(key, message): the signature of an Authorization value.
std::string HmacSha1Base64(const std::string& key, const std::string& message);

// The Content-MD5 value of this protocol: the Base64 of the 32 lower-case hex
// digits of the MD5 digest (not of the 16 raw bytes), 44 characters.
std::string ContentMd5FromHex(const std::string& hex_digest);

// `bytes` random bytes as lower-case hex.
std::string RandomHex(size_t bytes);

// MD5 over data that arrives in pieces.
class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  void Update(const void* data, size_t size);
  // The 32 lower-case hex digits; ends the computation (later calls repeat it).
  std::string HexDigest();

 private:
  EVP_MD_CTX* ctx_;
  std::string hex_;
};

// MD5 hex digest of a whole buffer.
std::string Md5Hex(const std::string& data);

}  // namespace ocs

#endif  // OCS_EMULATOR_SERVICE_CRYPTO_H_
