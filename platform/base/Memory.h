// Memory hints to the operating system.
#ifndef ORCA_PLATFORM_BASE_MEMORY_H_
#define ORCA_PLATFORM_BASE_MEMORY_H_

#include <cstddef>

namespace Orca {
namespace Base {

// Asks for transparent huge pages under the whole 2 MiB pages that lie in
// [data, data + size), before the memory is first touched: filling a large
// fresh buffer then takes one page fault per 2 MiB instead of one per 4 KiB.
// A hint only; nothing happens where the system does not support it.
void AdviseHugePages(void* data, size_t size);

}  // namespace Base
}  // namespace Orca

#endif  // ORCA_PLATFORM_BASE_MEMORY_H_
