#include "base/Clock.h"

#include <atomic>

namespace Orca {
namespace Base {
namespace {
std::atomic<ClockSource> g_clock{nullptr};
}  // namespace

int64_t UnixTimeNow() {
  const ClockSource source = g_clock.load(std::memory_order_acquire);
  return source != nullptr ? source() : static_cast<int64_t>(std::time(nullptr));
}

bool UtcTime(int64_t seconds, std::tm& out) {
  const auto t = static_cast<std::time_t>(seconds);
  return gmtime_r(&t, &out) != nullptr;
}

void SetClockForTesting(ClockSource source) { g_clock.store(source, std::memory_order_release); }

}  // namespace Base
}  // namespace Orca
