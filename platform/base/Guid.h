// Random GUIDs and numbers.
#ifndef ORCA_PLATFORM_BASE_GUID_H_
#define ORCA_PLATFORM_BASE_GUID_H_

#include <cstdint>
#include <string>

namespace Orca {
namespace Base {

// A random 128-bit GUID (RFC 4122 version 4) from OpenSSL's generator, as
// 36 lower-case characters: xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx.
std::string CreateGuid();

// A random number from 0 to `bound` inclusive, from the same generator.
uint32_t RandomUpTo(uint32_t bound);

}  // namespace Base
}  // namespace Orca

#endif  // ORCA_PLATFORM_BASE_GUID_H_
