#include "emulator/link/Pacer.h"

#include <algorithm>
#include <limits>

namespace ocs {
namespace {

// The most one allowance grants: the bytes of kQuantum at the rate, or at
// least one Ethernet frame, so slow links are paced smoothly.
constexpr std::chrono::milliseconds kQuantum{1};
constexpr uint64_t kSmallestQuantum = 1500;

std::chrono::nanoseconds TransmissionTime(uint64_t bytes, uint64_t rate) {
  constexpr uint64_t kNanosPerSecond = 1000000000;
  return std::chrono::nanoseconds((bytes * kNanosPerSecond + rate - 1) / rate);
}

}  // namespace

void Pacer::SetRate(uint64_t bytes_per_second) {
  const std::lock_guard<std::mutex> lock(mu_);
  rate_ = bytes_per_second;
  free_at_ = LinkTime();  // what was scheduled at the old rate is forgotten
}

size_t Pacer::Allowance(LinkTime now, LinkTime* free_at) const {
  const std::lock_guard<std::mutex> lock(mu_);
  if (rate_ == 0) {
    return std::numeric_limits<size_t>::max();
  }
  if (free_at_ > now) {
    *free_at = free_at_;
    return 0;
  }
  const uint64_t quantum = rate_ * kQuantum.count() / 1000;
  return static_cast<size_t>(std::max(quantum, kSmallestQuantum));
}

void Pacer::Charge(size_t bytes, LinkTime now) {
  const std::lock_guard<std::mutex> lock(mu_);
  if (rate_ != 0) {
    free_at_ = std::max(free_at_, now - kCatchUp) + TransmissionTime(bytes, rate_);
  }
}

}  // namespace ocs
