// Request authentication: Date, clock skew, the quarnbox signature, pool
// ownership and Content-MD5, checked the way a strict service checks them.
#ifndef OCS_EMULATOR_SERVICE_AUTH_H_
#define OCS_EMULATOR_SERVICE_AUTH_H_

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "emulator/Options.h"
#include "emulator/service/Errors.h"

namespace ocs {

// The parts of a request that authentication reads.
struct RequestFacts {
  std::string method;
  std::string target;  // path and query exactly as sent
  std::optional<std::string> date;
  std::optional<std::string> authorization;
  std::string content_type;
  std::string content_md5;
};

enum class SignLayout { kObject, kPicture };

class Authenticator {
 public:
  // `now` gives the current time in seconds since the epoch.
  Authenticator(const std::vector<PoolConfig>& pools, bool enabled, int64_t max_skew_seconds,
                std::function<int64_t()> now);

  bool enabled() const { return enabled_; }

  // Checks Date (present, in the client's form, within the allowed skew) and
  // the signature. On success `ak` receives the access key (empty when
  // authentication is off).
  std::optional<ApiError> Verify(const RequestFacts& request, SignLayout layout,
                                 std::string* ak) const;

  // 404 NoSuchBucket for an unknown pool; 403 when `ak` does not own it
  // (not checked when authentication is off).
  std::optional<ApiError> CheckPool(const std::string& pool, const std::string& ak) const;

 private:
  std::optional<ApiError> CheckDate(const RequestFacts& request) const;
  ApiError SignatureMismatch(const std::string& string_to_sign, SignLayout layout,
                             const std::string& ak) const;

  std::map<std::string, std::string> secrets_;  // ak -> sk
  std::map<std::string, std::string> owners_;   // pool -> ak
  bool enabled_;
  int64_t max_skew_;
  std::function<int64_t()> now_;
};

// Checks a Content-MD5 header against the body's MD5 hex digest: 400
// MissingContentMD5 when required and absent, 400 InvalidDigest when not in
// this protocol's form, 400 BadDigest when it does not match.
std::optional<ApiError> CheckContentMd5(const std::string& header, const std::string& body_md5_hex,
                                        bool required);

}  // namespace ocs

#endif  // OCS_EMULATOR_SERVICE_AUTH_H_
