#include "HeapPeak.h"

#include <atomic>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORCA_TEST_HEAP_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ORCA_TEST_HEAP_HOOKS 1
#endif
#endif

#if defined(ORCA_TEST_HEAP_HOOKS)
// The sanitizer runtime's allocator interface (sanitizer/allocator_interface.h,
// which not every compiler ships).
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                              void (*free_hook)(const volatile void*));
size_t __sanitizer_get_allocated_size(const volatile void* p);
}
#endif

namespace orca_test {
namespace {

std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};
std::atomic<int64_t> g_start{0};

#if defined(ORCA_TEST_HEAP_HOOKS)
void OnMalloc(const volatile void* /*ptr*/, size_t size) {
  const int64_t live = g_live.fetch_add(static_cast<int64_t>(size)) + static_cast<int64_t>(size);
  int64_t peak = g_peak.load(std::memory_order_relaxed);
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
}

void OnFree(const volatile void* ptr) {
  g_live.fetch_sub(static_cast<int64_t>(__sanitizer_get_allocated_size(ptr)));
}

// Bytes allocated before the hooks went in are subtracted when freed, so the
// count is only meaningful relative to Start.
const bool g_hooked = __sanitizer_install_malloc_and_free_hooks(&OnMalloc, &OnFree) != 0;
#else
const bool g_hooked = false;
#endif

}  // namespace

bool HeapPeak::Supported() { return g_hooked; }

void HeapPeak::Start() {
  const int64_t live = g_live.load();
  g_start.store(live);
  g_peak.store(live);
}

int64_t HeapPeak::Growth() { return g_peak.load() - g_start.load(); }

}  // namespace orca_test
