#include "base/Guid.h"

#include <openssl/rand.h>

#include <array>
#include <cstdio>

namespace Orca {
namespace Base {

namespace {

void RandomBytes(unsigned char* out, int size) {
  if (RAND_bytes(out, size) != 1) {
    // The generator is seeded from the operating system; failing here means
    // no entropy at all, which OpenSSL's own TLS would not survive either.
    RAND_poll();
    RAND_bytes(out, size);
  }
}

}  // namespace

std::string CreateGuid() {
  std::array<unsigned char, 16> b{};
  RandomBytes(b.data(), static_cast<int>(b.size()));
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof(text),
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return std::string(text, 36);
}

uint32_t RandomUpTo(uint32_t bound) {
  uint64_t value = 0;
  RandomBytes(reinterpret_cast<unsigned char*>(&value), sizeof(value));
  return static_cast<uint32_t>(value % (uint64_t{bound} + 1));
}

}  // namespace Base
}  // namespace Orca
