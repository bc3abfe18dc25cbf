// Checked memory functions, with an error hook that logs.
#ifndef ORCA_PLATFORM_SAFEFUNC_SAFEFUNC_H_
#define ORCA_PLATFORM_SAFEFUNC_SAFEFUNC_H_

#include <cstddef>

// Result type of the checked memory functions: 0 on success.
using __vek_safec_errno_t = int;

// Fills `count` bytes of `dest` (capacity `destmax`) with `value`. Fails,
// writing nothing, when dest is null or count exceeds destmax.
__vek_safec_errno_t VEK_Memset_s(void* dest, size_t destmax, int value, size_t count);

// Reports a failed checked memory call (file, line, function, call name, result).
// The default handler logs the failure at level 5.
void __vek_safec_error_handle(const char* file, int line, const char* function, const char* call,
                              __vek_safec_errno_t result);

#endif  // ORCA_PLATFORM_SAFEFUNC_SAFEFUNC_H_
