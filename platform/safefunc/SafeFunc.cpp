#include "safefunc/SafeFunc.h"

#include <cerrno>
#include <cstring>

#include "log/VekLog.h"

__vek_safec_errno_t VEK_Memset_s(void* dest, size_t destmax, int value, size_t count) {
  if (dest == nullptr) {
    return EINVAL;
  }
  if (count > destmax) {
    return ERANGE;
  }
  std::memset(dest, value, count);
  return 0;
}

void __vek_safec_error_handle(const char* file, int line, const char* function, const char* call,
                              __vek_safec_errno_t result) {
  veklog::Write(veklog::kLevelError, "platform.SafeFunc", "[%s]%s failed, result[%d][%s(%d)]",
                function, call, result, file, line);
}
