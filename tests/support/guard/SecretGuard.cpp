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

// The secret keys of the shared fixtures: the emulator's pools, the wire
// tests and the client unit tests.
const char* const kFixtureSecrets[] = {
    "ocs-test-sk1", "ocs-test-sk2", "wire-secret-key",
    "other-secret", "TOPSECRETKEY", "not-the-secret",
};

class Watchlist {
 public:
  Watchlist() : secrets_(std::begin(kFixtureSecrets), std::end(kFixtureSecrets)) {}

  void Add(const std::string& secret) {
    const std::lock_guard<std::mutex> lock(mutex_);
    secrets_.push_back(secret);
  }

  // The first watched secret in `text`, or "".
  std::string Find(const std::string& text) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& secret : secrets_) {
      if (text.find(secret) != std::string::npos) {
        return secret;
      }
    }
    return "";
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> secrets_;
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

}  // namespace

void WatchSecret(const std::string& secret) {
  if (secret.size() < kShortestSecret) {
    ADD_FAILURE() << "WatchSecret: \"" << secret << "\" is too short to watch";
    return;
  }
  Watched().Add(secret);
}

void CheckNoSecret(const std::string& text, const char* what) {
  const std::string secret = Watched().Find(text);
  if (!secret.empty()) {
    ADD_FAILURE() << "a secret key (" << secret.size() << " bytes, starting \""
                  << secret.substr(0, 2) << "\") appears in a " << what << ": " << text;
  }
}

void GuardSink(int level, const char* module, const char* message, void* /*context*/) {
  CheckNoSecret(message, "log record");
  if (level >= StderrThreshold()) {
    std::fprintf(stderr, "[%d] %s %s\n", level, module, message);
  }
}

void InstallGuardSink() {
  if (Orca::CloudStorage::SetLogSink != nullptr) {
    Orca::CloudStorage::SetLogSink(&GuardSink, nullptr);
  }
}

}  // namespace orca_test
