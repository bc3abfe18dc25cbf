#include "protocol/CallControl.h"

#include <algorithm>

#include "base/Guid.h"
#include "wire/Constants.h"

namespace Orca {
namespace CloudStorage {

uint32_t SRetryPolicy::DelayAfter(uint32_t attempt) const {
  const uint32_t doublings = std::min<uint32_t>(attempt - 1, 31);
  const uint64_t ceiling =
      std::min<uint64_t>(uint64_t{base_delay_ms} << doublings, kMaxRetryDelayMs);
  return Base::RandomUpTo(static_cast<uint32_t>(ceiling));
}

void CallControl::SetRetryPolicy(uint32_t attempts, uint32_t base_delay_ms) {
  attempts_.store(std::max<uint32_t>(attempts, 1), std::memory_order_relaxed);
  base_delay_ms_.store(base_delay_ms, std::memory_order_relaxed);
}

SRetryPolicy CallControl::RetryPolicy() const {
  return SRetryPolicy{attempts_.load(std::memory_order_relaxed),
                      base_delay_ms_.load(std::memory_order_relaxed)};
}

bool CCall::Wait(uint32_t ms) const {
  static const Base::CCancellation kNeverCancelled;
  return control_ ? control_->cancellation().SleepFor(ticket_, ms)
                  : kNeverCancelled.SleepFor(kNeverCancelled.Ticket(), ms);
}

Net::CHttpClientRequest::StopCheck CCall::StopCheck() const {
  if (!control_) {
    return nullptr;
  }
  return
      [control = control_, ticket = ticket_] { return control->cancellation().Cancelled(ticket); };
}

}  // namespace CloudStorage
}  // namespace Orca
