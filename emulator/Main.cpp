// ocs-emulator: a local emulator of the object-storage service and its
// picture gateway. Prints one line "OCS-EMULATOR {endpoints}" on standard
// output once every port listens, serves until SIGINT or SIGTERM, then
// stops cleanly. See emulator/README.md.

#include <pthread.h>

#include <csignal>
#include <cstdio>

#include "emulator/Emulator.h"
#include "emulator/Options.h"

#if defined(__SANITIZE_THREAD__)
// cpp-httplib comes uninstrumented: ThreadSanitizer cannot see the guards of
// its function-local statics (its regexes) and reports their first use from
// two threads. Races in the emulator's own code are still reported.
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  return "called_from_lib:libcpp-httplib.so\n";
}
#endif

int main(int argc, char** argv) {
  int exit_code = 0;
  const auto options = ocs::ParseOptions(argc, argv, &exit_code);
  if (!options) {
    return exit_code;
  }
  // The stop signals are taken by sigwait below; every thread inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  ocs::Emulator emulator(*options);
  const std::string problem = emulator.Start();
  if (!problem.empty()) {
    std::fprintf(stderr, "ocs-emulator: %s\n", problem.c_str());
    return 1;
  }
  std::printf("OCS-EMULATOR %s\n", emulator.EndpointsJson().c_str());
  std::fflush(stdout);

  int received = 0;
  sigwait(&stop_signals, &received);
  emulator.Stop();
  return 0;
}
