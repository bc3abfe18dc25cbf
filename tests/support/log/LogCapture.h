// Collects the library's log records for the lifetime of the object. The
// secret guard keeps watching them, and is the sink again afterwards.
#ifndef ORCA_TEST_SUPPORT_LOG_LOGCAPTURE_H_
#define ORCA_TEST_SUPPORT_LOG_LOGCAPTURE_H_

#include <mutex>
#include <string>
#include <vector>

#include "OrcaCloudStorage/StorageClient.h"
#include "SecretGuard.h"

namespace orca_test {

struct LogRecord {
  int level;
  std::string module;
  std::string message;
};

class LogCapture {
 public:
  LogCapture() { Orca::CloudStorage::SetLogSink(&LogCapture::Sink, this); }
  ~LogCapture() { InstallGuardSink(); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LogRecord> Records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }
  // True when some record holds `text`.
  bool Contains(const std::string& text) const {
    for (const LogRecord& r : Records()) {
      if (r.message.find(text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  static void Sink(int level, const char* module, const char* message, void* context) {
    CheckNoSecret(message, "log record");
    auto* self = static_cast<LogCapture*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->records_.push_back({level, module, message});
  }

  mutable std::mutex mutex_;
  std::vector<LogRecord> records_;
};

}  // namespace orca_test

#endif  // ORCA_TEST_SUPPORT_LOG_LOGCAPTURE_H_
