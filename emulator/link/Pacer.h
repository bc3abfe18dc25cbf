// The shared rate of one direction of the emulated link.
#ifndef OCS_EMULATOR_LINK_PACER_H_
#define OCS_EMULATOR_LINK_PACER_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace ocs {

using LinkClock = std::chrono::steady_clock;
using LinkTime = LinkClock::time_point;

// A virtual-time schedule: the link is busy until `free_at`, and every byte
// sent moves it on by the byte's transmission time. A sender asks for an
// allowance before writing and charges what it wrote. The schedule never
// lags more than kCatchUp behind the clock, so senders woken late keep the
// average rate without turning an idle link into a burst. Thread-safe: one
// pacer serves every connection of every relay.
class Pacer {
 public:
  static constexpr std::chrono::milliseconds kCatchUp{2};

  // Bytes per second; 0: unlimited. Applies from now on.
  void SetRate(uint64_t bytes_per_second);
  // How many bytes may be written at `now`: 0 while the link is busy, with
  // the time it frees up in *free_at.
  size_t Allowance(LinkTime now, LinkTime* free_at) const;
  // Accounts for `bytes` written at `now`.
  void Charge(size_t bytes, LinkTime now);

 private:
  mutable std::mutex mu_;
  uint64_t rate_ = 0;  // guarded by mu_
  LinkTime free_at_;   // guarded by mu_
};

}  // namespace ocs

#endif  // OCS_EMULATOR_LINK_PACER_H_
