// Decides when an exchange has stalled: no progress for longer than its
// current phase allows. While the request body is still going out, the send
// time-out applies; afterwards (waiting for and reading the answer), the
// receive time-out. Nothing is timed before Start, which marks a ready
// connection (connecting has a time-out of its own).
#ifndef ORCA_PLATFORM_NET_STALLWATCH_H_
#define ORCA_PLATFORM_NET_STALLWATCH_H_

#include <chrono>
#include <cstdint>

namespace Orca {
namespace Net {

class StallWatch {
 public:
  using Clock = std::chrono::steady_clock;

  // Non-positive time-outs mean kDefaultTimeoutMs.
  StallWatch(int send_timeout_ms, int receive_timeout_ms, uint64_t upload_size);

  // The connection is ready (again, after a retry): timing starts over.
  void Start(Clock::time_point now);
  // Transfer counters as libcurl reports them; a change counts as progress.
  void Observe(uint64_t uploaded, uint64_t downloaded, Clock::time_point now);
  // Progress that the counters do not show (header lines, body pieces).
  void MarkProgress(Clock::time_point now);
  // Answer bytes have arrived: the receive time-out applies from now on.
  void MarkAnswerStarted() { answer_started_ = true; }

  bool Stalled(Clock::time_point now) const;

 private:
  bool Sending() const { return !answer_started_ && uploaded_ < upload_size_; }

  const Clock::duration send_timeout_;
  const Clock::duration receive_timeout_;
  const uint64_t upload_size_;
  bool started_ = false;
  bool answer_started_ = false;
  uint64_t uploaded_ = 0;
  uint64_t downloaded_ = 0;
  Clock::time_point last_progress_;
};

}  // namespace Net
}  // namespace Orca

#endif  // ORCA_PLATFORM_NET_STALLWATCH_H_
