// Cancellation shared by a client and its copies. A call takes a ticket when
// it starts; Cancel cancels every ticket taken before it, so that calls
// started after Cancel returns run normally.
//
//   const uint64_t ticket = cancellation.Ticket();
//   ... if (cancellation.Cancelled(ticket)) stop ...
//   if (!cancellation.SleepFor(ticket, 200)) stop;  // woken by Cancel
#ifndef ORCA_PLATFORM_BASE_CANCELLATION_H_
#define ORCA_PLATFORM_BASE_CANCELLATION_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Orca {
namespace Base {

class CCancellation {
 public:
  uint64_t Ticket() const { return generation_.load(std::memory_order_acquire); }
  bool Cancelled(uint64_t ticket) const { return Ticket() != ticket; }
  // Cancels the tickets taken so far and wakes their sleepers. Thread-safe.
  void Cancel();
  // Sleeps `ms` milliseconds; false as soon as `ticket` is cancelled.
  bool SleepFor(uint64_t ticket, uint32_t ms) const;

 private:
  std::atomic<uint64_t> generation_{0};
  mutable std::mutex mutex_;
  mutable std::condition_variable cancelled_;
};

}  // namespace Base
}  // namespace Orca

#endif  // ORCA_PLATFORM_BASE_CANCELLATION_H_
