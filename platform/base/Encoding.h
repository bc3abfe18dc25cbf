// Text conversions and Base64.
#ifndef ORCA_PLATFORM_BASE_ENCODING_H_
#define ORCA_PLATFORM_BASE_ENCODING_H_

#include <cstddef>
#include <string>

namespace Orca {
namespace Base {

// UTF-8 to the local multibyte form used in log and error texts. The local
// form is UTF-8 on this platform, so the text is returned unchanged.
std::string UTF8ToLocal(const std::string& utf8);

namespace Encrypt {
// Standard Base64 (RFC 4648, "=" padded) of `size` bytes at `data`.
bool Base64Encode(const unsigned char* data, size_t size, std::string& out);
}  // namespace Encrypt

}  // namespace Base
}  // namespace Orca

#endif  // ORCA_PLATFORM_BASE_ENCODING_H_
