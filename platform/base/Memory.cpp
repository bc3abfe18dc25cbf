#include "base/Memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace Orca {
namespace Base {
namespace {

constexpr uintptr_t kHugePageSize = uintptr_t{2} << 20;  // x86-64 and AArch64 with 4 KiB pages

}  // namespace

void AdviseHugePages(void* data, size_t size) {
  char* const begin = static_cast<char*>(data);
  const auto address = reinterpret_cast<uintptr_t>(begin);
  char* const first = begin + (kHugePageSize - address % kHugePageSize) % kHugePageSize;
  char* const last = begin + size - (address + size) % kHugePageSize;
  if (first < last) {
    madvise(first, static_cast<size_t>(last - first), MADV_HUGEPAGE);  // a hint: result unused
  }
}

}  // namespace Base
}  // namespace Orca
