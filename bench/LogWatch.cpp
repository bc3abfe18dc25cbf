#include "LogWatch.h"

#include <cstdio>
#include <cstring>

#include "OrcaCloudStorage/StorageClient.h"

namespace bench {
namespace {

constexpr int kErrorLevel = 5;
// The trace record of the completion request of a multipart upload.
constexpr char kCompletionSent[] = "FinishPartTask][Client]send url[";

}  // namespace

LogWatch::LogWatch(bool trace) : trace_(trace), start_(Clock::now()) {
  Orca::CloudStorage::SetLogSink(&LogWatch::OnRecord, this);
}

LogWatch::~LogWatch() { Orca::CloudStorage::SetLogSink(nullptr, nullptr); }

LogWatch::Clock::time_point LogWatch::LastCompletionSent() const {
  return Clock::time_point(Clock::duration(completion_sent_.load()));
}

void LogWatch::OnRecord(int level, const char* /*module*/, const char* message, void* self) {
  auto* watch = static_cast<LogWatch*>(self);
  const Clock::time_point now = Clock::now();
  if (std::strstr(message, kCompletionSent) != nullptr) {
    watch->completion_sent_.store(now.time_since_epoch().count());
  }
  if (watch->trace_) {
    const std::chrono::duration<double, std::milli> since = now - watch->start_;
    std::fprintf(stderr, "%10.3f [%d] %s\n", since.count(), level, message);
  } else if (level >= kErrorLevel) {
    std::fprintf(stderr, "[%d] %s\n", level, message);
  }
}

}  // namespace bench
