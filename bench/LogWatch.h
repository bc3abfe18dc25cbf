// bench_driver's log sink. It keeps the library's failures visible on
// standard error (with `trace`, every record, stamped with the milliseconds
// since the sink was installed) and notes when a multipart upload sends its
// completion request, so that the time the service spends assembling the
// object can be told apart from the time the parts took.
#ifndef ORCA_BENCH_LOGWATCH_H_
#define ORCA_BENCH_LOGWATCH_H_

#include <atomic>
#include <chrono>

namespace bench {

class LogWatch {
 public:
  using Clock = std::chrono::steady_clock;

  // Installs the sink; the destructor restores the default one.
  explicit LogWatch(bool trace);
  ~LogWatch();
  LogWatch(const LogWatch&) = delete;
  LogWatch& operator=(const LogWatch&) = delete;

  // When the last completion request was sent (the clock's epoch if none was).
  Clock::time_point LastCompletionSent() const;

 private:
  static void OnRecord(int level, const char* module, const char* message, void* self);

  const bool trace_;
  const Clock::time_point start_;
  std::atomic<Clock::rep> completion_sent_{0};  // since the clock's epoch
};

}  // namespace bench

#endif  // ORCA_BENCH_LOGWATCH_H_
