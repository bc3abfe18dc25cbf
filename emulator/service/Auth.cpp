#include "emulator/service/Auth.h"

#include <openssl/crypto.h>

#include "emulator/http/HttpDate.h"
#include "emulator/service/Crypto.h"
#include "emulator/service/Signing.h"

namespace ocs {
namespace {

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

SignInputs InputsOf(const RequestFacts& request, SignLayout layout) {
  return SignInputs{
      request.method, request.content_md5,
      layout == SignLayout::kPicture ? MediaType(request.content_type) : request.content_type,
      request.date.value_or(""), SignedResource(request.target)};
}

}  // namespace

Authenticator::Authenticator(const std::vector<PoolConfig>& pools, bool enabled,
                             int64_t max_skew_seconds, std::function<int64_t()> now)
    : enabled_(enabled), max_skew_(max_skew_seconds), now_(std::move(now)) {
  for (const auto& pool : pools) {
    secrets_[pool.ak] = pool.sk;
    owners_[pool.name] = pool.ak;
  }
}

std::optional<ApiError> Authenticator::CheckDate(const RequestFacts& request) const {
  if (!request.date) {
    return BadRequest("MissingDate", "The request has no Date header.");
  }
  const auto when = ParseClientDate(*request.date);
  if (!when) {
    return BadRequest("InvalidDate", "The Date header \"" + *request.date +
                                         "\" is not of the form \"Fri,  4 Dec 2026 12:55:16 GMT\" "
                                         "(RFC 1123, UTC, day padded with a space).");
  }
  const int64_t skew = *when - now_();
  if (max_skew_ > 0 && (skew > max_skew_ || -skew > max_skew_)) {
    ApiError error =
        MakeError(403, "RequestTimeTooSkewed",
                  "The Date differs from the server's time by " + std::to_string(skew) +
                      " seconds (at most " + std::to_string(max_skew_) + " allowed).");
    error.details = {{"RequestTime", *request.date}, {"ServerTime", FormatClientDate(now_())}};
    return error;
  }
  return std::nullopt;
}

ApiError Authenticator::SignatureMismatch(const std::string& string_to_sign, SignLayout layout,
                                          const std::string& ak) const {
  ApiError error = MakeError(
      403, "SignatureDoesNotMatch",
      "The signature does not match. The server signed: " + ShowLineFeeds(string_to_sign));
  error.details = {{"AccessKeyId", ak},
                   {"SignatureLayout", layout == SignLayout::kObject ? "object" : "picture"},
                   {"StringToSign", string_to_sign},
                   {"StringToSignEscaped", ShowLineFeeds(string_to_sign)}};
  return error;
}

std::optional<ApiError> Authenticator::Verify(const RequestFacts& request, SignLayout layout,
                                              std::string* ak) const {
  ak->clear();
  if (!enabled_) {
    return std::nullopt;
  }
  if (auto error = CheckDate(request)) {
    return error;
  }
  if (!request.authorization) {
    return AccessDenied("The request has no Authorization header.");
  }
  const auto credentials = ParseAuthorization(*request.authorization);
  if (!credentials) {
    return AccessDenied("The Authorization header is not \"quarnbox <access key>:<signature>\".");
  }
  const auto secret = secrets_.find(credentials->ak);
  if (secret == secrets_.end()) {
    return MakeError(403, "InvalidAccessKeyId",
                     "The access key " + credentials->ak + " is not known.");
  }
  const SignInputs inputs = InputsOf(request, layout);
  const std::string string_to_sign =
      layout == SignLayout::kObject ? ObjectStringToSign(inputs) : PictureStringToSign(inputs);
  if (!SameText(HmacSha1Base64(secret->second, string_to_sign), credentials->signature)) {
    return SignatureMismatch(string_to_sign, layout, credentials->ak);
  }
  *ak = credentials->ak;
  return std::nullopt;
}

std::optional<ApiError> Authenticator::CheckPool(const std::string& pool,
                                                 const std::string& ak) const {
  const auto owner = owners_.find(pool);
  if (owner == owners_.end()) {
    return NoSuchBucket(pool);
  }
  if (enabled_ && owner->second != ak) {
    return AccessDenied("The access key " + ak + " does not own the pool " + pool + ".");
  }
  return std::nullopt;
}

std::optional<ApiError> CheckContentMd5(const std::string& header, const std::string& body_md5_hex,
                                        bool required) {
  if (header.empty()) {
    if (!required) {
      return std::nullopt;
    }
    return BadRequest("MissingContentMD5", "A request with a body needs a Content-MD5 header.");
  }
  const std::string expected = ContentMd5FromHex(body_md5_hex);
  if (header.size() != expected.size()) {
    ApiError error = BadRequest("InvalidDigest",
                                "Content-MD5 must be the Base64 of the 32 lower-case hex digits "
                                "of the body's MD5 (44 characters).");
    error.details = {{"ContentMD5", header}};
    return error;
  }
  if (header != expected) {
    ApiError error = BadRequest("BadDigest", "The Content-MD5 does not match the body received.");
    error.details = {
        {"ContentMD5", header}, {"ExpectedContentMD5", expected}, {"BodyMD5", body_md5_hex}};
    return error;
  }
  return std::nullopt;
}

}  // namespace ocs
