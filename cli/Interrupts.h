// Ctrl-C (SIGINT) and SIGTERM. BlockInterrupts, called before any thread
// exists, blocks both in every thread; an InterruptWatch waits for them on a
// thread of its own, so that nothing runs in a signal handler.
//
// A signal while library calls are in flight (each inside a CancelScope)
// cancels them through their clients: they return false (code 10), and the
// command removes what it must, prints "ocs: cancelled" and exits with
// kExitCancelled. A signal while none is in flight, or a second signal, ends
// the tool at once with the same message and status, after removing the
// partial files the scopes name.
#ifndef OCS_CLI_INTERRUPTS_H_
#define OCS_CLI_INTERRUPTS_H_

#include <signal.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ocs {

// Blocks SIGINT and SIGTERM in the calling thread and in the threads it
// starts later.
void BlockInterrupts();

class CancelScope;

class InterruptWatch {
 public:
  // Starts the waiting thread; the signals must be blocked already.
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // True once a signal has come.
  bool Interrupted() const { return interrupted_; }

 private:
  friend class CancelScope;

  void Wait();
  void CancelAll();
  [[noreturn]] void ExitNow();

  sigset_t signals_{};
  std::atomic<bool> interrupted_{false};
  std::atomic<bool> closing_{false};
  std::mutex mutex_;
  std::vector<const CancelScope*> scopes_;
  std::thread thread_;
};

// While it lives, a signal calls `cancel` instead of ending the tool, and
// again every 100 ms until the tool ends (a call that starts just after a
// cancel runs on); `partial_file`, when not empty, is removed if the tool
// ends at once.
class CancelScope {
 public:
  CancelScope(InterruptWatch& watch, std::function<void()> cancel, std::string partial_file = "");
  ~CancelScope();
  CancelScope(const CancelScope&) = delete;
  CancelScope& operator=(const CancelScope&) = delete;

 private:
  friend class InterruptWatch;

  InterruptWatch& watch_;
  const std::function<void()> cancel_;
  const std::string partial_file_;
};

// Runs `call`, a call on `client`, so that a signal cancels it.
template <typename Client, typename Call>
bool Cancellable(InterruptWatch& watch, Client& client, const Call& call,
                 const std::string& partial_file = "") {
  const CancelScope scope(
      watch, [&client] { client.Cancel(); }, partial_file);
  return call();
}

}  // namespace ocs

#endif  // OCS_CLI_INTERRUPTS_H_
