#include "base/Encoding.h"

#include <openssl/evp.h>

namespace Orca {
namespace Base {
std::string UTF8ToLocal(const std::string& utf8) { return utf8; }

namespace Encrypt {

bool Base64Encode(const unsigned char* data, size_t size, std::string& out) {
  if (size > static_cast<size_t>(INT_MAX / 4 * 3)) {
    return false;
  }
  out.assign(4 * ((size + 2) / 3), '\0');
  const int written =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(size));
  out.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return written >= 0;
}

}  // namespace Encrypt
}  // namespace Base
}  // namespace Orca
