#include "SecretGuard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "OrcaCloudStorage/StorageClient.h"

// Weak, so that binaries without the library (the emulator's tests) link too;
// there the guard has nothing to watch.
namespace Orca {
namespace CloudStorage {
// NOLINTNEXTLINE(readability-redundant-declaration): the redeclaration makes it weak.
__attribute__((weak)) void SetLogSink(LogSink sink, void* context);
}  // namespace CloudStorage
}  // namespace Orca

namespace orca_test {
namespace {

constexpr size_t kShortestSecret = 6;

struct Watchlist {
  std::mutex mutex;
  // The secret keys of the shared fixtures: the emulator's pools, the wire
  // tests and the client unit tests.
  std::vector<std::string> secrets = {"ocs-test-sk1", "ocs-test-sk2", "wire-secret-key",
                                      "TOPSECRETKEY"};
};

Watchlist& Watched() {
  static Watchlist watchlist;
  return watchlist;
}

int StderrThreshold() {
  static const int threshold = [] {
    const char* text = std::getenv("ORCA_CS_LOG_LEVEL");
    return text != nullptr && *text != '\0' ? std::atoi(text) : 5;
  }();
  return threshold;
}

// Checks every record, then writes those at or above ORCA_CS_LOG_LEVEL (5
// when unset) to standard error like the default sink.
void GuardSink(int level, const char* module, const char* message, void* /*context*/) {
  CheckNoSecret(message, "log record");
  if (level >= StderrThreshold()) {
    std::fprintf(stderr, "[%d] %s %s\n", level, module, message);
  }
}

}  // namespace

void WatchSecret(const std::string& secret) {
  if (secret.size() < kShortestSecret) {
    ADD_FAILURE() << "WatchSecret: \"" << secret << "\" is too short to watch";
    return;
  }
  Watchlist& watched = Watched();
  const std::lock_guard<std::mutex> lock(watched.mutex);
  watched.secrets.push_back(secret);
}

void CheckNoSecret(const std::string& text, const char* what) {
  Watchlist& watched = Watched();
  const std::lock_guard<std::mutex> lock(watched.mutex);
  for (const std::string& secret : watched.secrets) {
    if (text.find(secret) != std::string::npos) {
      ADD_FAILURE() << "a secret key (" << secret.size() << " bytes, starting \""
                    << secret.substr(0, 2) << "\") appears in a " << what << ": " << text;
      return;
    }
  }
}

void InstallGuardSink() {
  if (Orca::CloudStorage::SetLogSink != nullptr) {
    Orca::CloudStorage::SetLogSink(&GuardSink, nullptr);
  }
}

}  // namespace orca_test
