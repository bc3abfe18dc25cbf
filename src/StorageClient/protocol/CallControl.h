// The retry policy and the cancellation that a client shares with its
// copies, and one call's hold on them.
#ifndef ORCA_CS_CALLCONTROL_H_
#define ORCA_CS_CALLCONTROL_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

#include "base/Cancellation.h"
#include "net/HttpClient.h"

namespace Orca {
namespace CloudStorage {

struct SRetryPolicy {
  uint32_t attempts = 1;  // tries in all
  uint32_t base_delay_ms = 0;
  // The wait before try `attempt` + 1 (attempt from 1): full jitter, a random
  // time up to base_delay_ms x 2^(attempt - 1), at most kMaxRetryDelayMs.
  uint32_t DelayAfter(uint32_t attempt) const;
};

class CallControl {
 public:
  // 0 attempts count as 1.
  void SetRetryPolicy(uint32_t attempts, uint32_t base_delay_ms);
  SRetryPolicy RetryPolicy() const;
  void Cancel() { cancellation_.Cancel(); }
  const Base::CCancellation& cancellation() const { return cancellation_; }

 private:
  std::atomic<uint32_t> attempts_{1};
  std::atomic<uint32_t> base_delay_ms_{0};
  Base::CCancellation cancellation_;
};

// A call of a client: the ticket it took when it began. Without a control
// the call tries once and is never cancelled.
class CCall {
 public:
  CCall() = default;
  explicit CCall(std::shared_ptr<const CallControl> control)
      : control_(std::move(control)), ticket_(control_ ? control_->cancellation().Ticket() : 0) {}

  bool Cancelled() const { return control_ && control_->cancellation().Cancelled(ticket_); }
  SRetryPolicy RetryPolicy() const { return control_ ? control_->RetryPolicy() : SRetryPolicy(); }
  // Waits `ms`; false as soon as the call is cancelled.
  bool Wait(uint32_t ms) const;
  // Stops the HTTP component's exchanges of this call once it is cancelled.
  Net::CHttpClientRequest::StopCheck StopCheck() const;

 private:
  std::shared_ptr<const CallControl> control_;
  uint64_t ticket_ = 0;
};

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_CALLCONTROL_H_
