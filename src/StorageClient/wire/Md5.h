// MD5 (RFC 1321) and the protocol's Content-MD5 text.
#ifndef ORCA_CS_MD5_H_
#define ORCA_CS_MD5_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Orca {
namespace CloudStorage {

struct Md5Context {
  uint32_t state[4];
  uint32_t count[2];  // message length in bits, low word first
  unsigned char buffer[64];
};

using Md5Digest = std::array<unsigned char, 16>;

void Md5Init(Md5Context& ctx);
void Md5Update(Md5Context& ctx, const void* data, size_t size);
Md5Digest Md5Final(Md5Context& ctx);

// The Content-MD5 value of a body: the 32 lower-case hex digits of its MD5,
// themselves Base64-encoded (always 44 characters).
std::string MakeContentMd5(const void* data, uint32_t size);

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_MD5_H_
