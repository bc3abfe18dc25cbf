// Buffers handed to callers.
#ifndef ORCA_CS_BUFFERS_H_
#define ORCA_CS_BUFFERS_H_

#include <cstdint>

namespace Orca {
namespace CloudStorage {

// A new array of `length` + 1 bytes, all zero (released with delete[]);
// null when the memory is not available.
char* NewZeroedBuffer(uint32_t length);

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_BUFFERS_H_
