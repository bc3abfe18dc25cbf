#include "Redirect.h"

namespace Orca {
namespace CloudStorage {

bool SplitLocation(const std::string& location, bool use_https, std::string& base,
                   std::string& path) {
  const std::string scheme = use_https ? "https://" : "http://";
  const size_t scheme_at = location.find(scheme);
  if (scheme_at == std::string::npos) {
    return false;
  }
  const size_t slash = location.find('/', scheme_at + scheme.size());
  if (slash == std::string::npos) {
    return false;
  }
  base = location.substr(0, slash);
  path = location.substr(slash);
  return true;
}

}  // namespace CloudStorage
}  // namespace Orca
