#include "net/StallWatch.h"

#include "net/HttpClient.h"

namespace Orca {
namespace Net {
namespace {

StallWatch::Clock::duration EffectiveTimeout(int ms) {
  return std::chrono::milliseconds(ms > 0 ? ms : kDefaultTimeoutMs);
}

}  // namespace

StallWatch::StallWatch(int send_timeout_ms, int receive_timeout_ms, uint64_t upload_size)
    : send_timeout_(EffectiveTimeout(send_timeout_ms)),
      receive_timeout_(EffectiveTimeout(receive_timeout_ms)),
      upload_size_(upload_size) {}

void StallWatch::Start(Clock::time_point now) {
  started_ = true;
  answer_started_ = false;
  uploaded_ = 0;
  downloaded_ = 0;
  last_progress_ = now;
}

void StallWatch::Observe(uint64_t uploaded, uint64_t downloaded, Clock::time_point now) {
  if (uploaded != uploaded_ || downloaded != downloaded_) {
    uploaded_ = uploaded;
    downloaded_ = downloaded;
    last_progress_ = now;
  }
}

void StallWatch::MarkProgress(Clock::time_point now) { last_progress_ = now; }

bool StallWatch::Stalled(Clock::time_point now) const {
  if (!started_) {
    return false;
  }
  return now - last_progress_ > (Sending() ? send_timeout_ : receive_timeout_);
}

}  // namespace Net
}  // namespace Orca
