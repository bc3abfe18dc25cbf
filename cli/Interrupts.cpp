#include "cli/Interrupts.h"

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "cli/Output.h"

namespace ocs {
namespace {

// How often a cancel is repeated until the command has wound down.
constexpr long kRecancelPeriodNs = 100'000'000;

sigset_t InterruptSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

void BlockInterrupts() {
  const sigset_t signals = InterruptSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

InterruptWatch::InterruptWatch() : signals_(InterruptSignals()), thread_([this] { Wait(); }) {}

InterruptWatch::~InterruptWatch() {
  closing_ = true;
  // Wakes the waiting thread: blocked, the signal ends nothing.
  pthread_kill(thread_.native_handle(), SIGTERM);  // NOLINT(bugprone-bad-signal-to-kill-thread)
  thread_.join();
}

void InterruptWatch::Wait() {
  int signal = 0;
  sigwait(&signals_, &signal);
  if (closing_) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    interrupted_ = true;
    if (scopes_.empty()) {
      ExitNow();
    }
    CancelAll();
  }
  const timespec period{0, kRecancelPeriodNs};
  for (;;) {
    const bool again = sigtimedwait(&signals_, nullptr, &period) > 0;
    if (closing_) {
      return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (again) {
      ExitNow();
    }
    CancelAll();
  }
}

void InterruptWatch::CancelAll() {
  for (const CancelScope* scope : scopes_) {
    scope->cancel_();
  }
}

void InterruptWatch::ExitNow() {
  for (const CancelScope* scope : scopes_) {
    if (!scope->partial_file_.empty()) {
      std::remove(scope->partial_file_.c_str());
    }
  }
  std::_Exit(ComplainCancelled());
}

CancelScope::CancelScope(InterruptWatch& watch, std::function<void()> cancel,
                         std::string partial_file)
    : watch_(watch), cancel_(std::move(cancel)), partial_file_(std::move(partial_file)) {
  std::lock_guard<std::mutex> lock(watch_.mutex_);
  watch_.scopes_.push_back(this);
}

CancelScope::~CancelScope() {
  std::lock_guard<std::mutex> lock(watch_.mutex_);
  auto& scopes = watch_.scopes_;
  scopes.erase(std::find(scopes.begin(), scopes.end(), this));
}

}  // namespace ocs
