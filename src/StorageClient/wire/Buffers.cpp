#include "wire/Buffers.h"

#include <cstddef>
#include <new>

#include "base/Memory.h"
#include "safefunc/SafeFunc.h"

namespace Orca {
namespace CloudStorage {

char* NewZeroedBuffer(uint32_t length) {
  const size_t size = static_cast<size_t>(length) + 1;
  char* buffer = new (std::nothrow) char[size];
  if (buffer == nullptr) {
    return nullptr;
  }
  Base::AdviseHugePages(buffer, size);
  const __vek_safec_errno_t result = VEK_Memset_s(buffer, size, 0, size);
  if (result != 0) {
    __vek_safec_error_handle(__FILE__, __LINE__, __func__, "VEK_MEMSET_S", result);
  }
  return buffer;
}

}  // namespace CloudStorage
}  // namespace Orca
