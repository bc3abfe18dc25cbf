#include "cli/FailureHints.h"

#include <cstdlib>

namespace ocs {
namespace {

// The library's error codes (see the public header).
constexpr int32_t kInvalidArgument = 2;
constexpr int32_t kTransportFailure = 4;
constexpr int32_t kNoSuchBucket = 8;
constexpr int32_t kNoSuchKey = 9;

// The HTTP status a message names as "status code[NNN]", or 0.
int StatusIn(const std::string& message) {
  const std::string marker = "status code[";
  const size_t at = message.find(marker);
  return at == std::string::npos ? 0 : std::atoi(message.c_str() + at + marker.size());
}

}  // namespace

std::string FailureHint(int32_t code, const std::string& message, const std::string& server) {
  const int status = StatusIn(message);
  if (code == kTransportFailure) {
    return "could not talk to the service at " + server +
           " (is it running? are the address, ports and --https right?)";
  }
  if (code == kNoSuchBucket) {
    return "no such pool: check --pool (OCS_POOL)";
  }
  if (code == kNoSuchKey || status == 404) {
    return "no such object: check the URL (as put printed it)";
  }
  if (status == 403) {
    return "the service refused the keys: check the access key, the secret key, and the "
           "clock of this machine (requests are signed with the time)";
  }
  if (code == kInvalidArgument && message.find(" holds byte ") != std::string::npos) {
    return "object keys, URLs and ranges cannot hold control bytes, spaces or DEL: name the "
           "object without them";
  }
  return std::string();
}

}  // namespace ocs
