// The emulated link that every service port's traffic crosses: a one-way
// delay, and one shared pacer per direction.
#ifndef OCS_EMULATOR_LINK_LINK_H_
#define OCS_EMULATOR_LINK_LINK_H_

#include <atomic>
#include <chrono>
#include <mutex>

#include "emulator/Options.h"
#include "emulator/link/Pacer.h"

namespace ocs {

class Link {
 public:
  explicit Link(const LinkConfig& config) { Set(config); }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Takes effect for the bytes read from now on.
  void Set(const LinkConfig& config);
  LinkConfig Get() const;

  std::chrono::nanoseconds latency() const { return std::chrono::nanoseconds(latency_ns_.load()); }
  Pacer& toward_service() { return toward_service_; }
  Pacer& toward_client() { return toward_client_; }

 private:
  mutable std::mutex mu_;
  LinkConfig config_;  // guarded by mu_
  std::atomic<int64_t> latency_ns_{0};
  Pacer toward_service_;
  Pacer toward_client_;
};

}  // namespace ocs

#endif  // OCS_EMULATOR_LINK_LINK_H_
