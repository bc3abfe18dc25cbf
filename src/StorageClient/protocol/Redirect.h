// Reading a redirect's Location.
#ifndef ORCA_CS_REDIRECT_H_
#define ORCA_CS_REDIRECT_H_

#include <string>

namespace Orca {
namespace CloudStorage {

// True for the statuses that are followed once: 301 and 302.
inline bool IsRedirectStatus(int status) { return status == 301 || status == 302; }

// Splits `location`, which must begin with the expected scheme ("https://"
// when `use_https`, else "http://", in any case), at the first "/" after
// it: `base` gets what comes before that "/" (scheme and authority), `path`
// the rest. False when the scheme does not begin the Location (a scheme
// further in must not carry a signed request elsewhere, or in clear), no
// "/" follows it, or it holds a byte that cannot stand in a request line.
bool SplitLocation(const std::string& location, bool use_https, std::string& base,
                   std::string& path);

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_REDIRECT_H_
