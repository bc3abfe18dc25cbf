#include "base/Cancellation.h"

#include <chrono>

namespace Orca {
namespace Base {

void CCancellation::Cancel() {
  {
    // Under the lock, so that a sleeper between its check and its wait
    // cannot miss the wake-up.
    std::lock_guard<std::mutex> lock(mutex_);
    generation_.fetch_add(1, std::memory_order_acq_rel);
  }
  cancelled_.notify_all();
}

bool CCancellation::SleepFor(uint64_t ticket, uint32_t ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return !cancelled_.wait_for(lock, std::chrono::milliseconds(ms),
                              [&] { return Cancelled(ticket); });
}

}  // namespace Base
}  // namespace Orca
