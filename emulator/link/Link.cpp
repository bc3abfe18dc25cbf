#include "emulator/link/Link.h"

namespace ocs {
namespace {

constexpr uint64_t kBytesPerSecondPerMbit = 1000000 / 8;

}  // namespace

void Link::Set(const LinkConfig& config) {
  const std::lock_guard<std::mutex> lock(mu_);
  config_ = config;
  latency_ns_.store(std::chrono::nanoseconds(std::chrono::milliseconds(config.latency_ms)).count());
  toward_service_.SetRate(config.bandwidth_mbit * kBytesPerSecondPerMbit);
  toward_client_.SetRate(config.bandwidth_mbit * kBytesPerSecondPerMbit);
}

LinkConfig Link::Get() const {
  const std::lock_guard<std::mutex> lock(mu_);
  return config_;
}

}  // namespace ocs
