#include "protocol/Redirect.h"

#include <strings.h>

#include <string_view>

#include "wire/RequestText.h"

namespace Orca {
namespace CloudStorage {

bool SplitLocation(const std::string& location, bool use_https, std::string& base,
                   std::string& path) {
  const std::string_view scheme = use_https ? "https://" : "http://";
  if (location.size() < scheme.size() ||
      strncasecmp(location.c_str(), scheme.data(), scheme.size()) != 0) {
    return false;
  }
  // The new target goes on the request line as it is.
  if (FindTargetUnsafeByte(location) != std::string::npos) {
    return false;
  }
  const size_t slash = location.find('/', scheme.size());
  if (slash == std::string::npos) {
    return false;
  }
  base = location.substr(0, slash);
  path = location.substr(slash);
  return true;
}

}  // namespace CloudStorage
}  // namespace Orca
