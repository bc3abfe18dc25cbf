#include "cli/LogSinks.h"

#include <cstdio>

#include "OrcaCloudStorage/StorageClient.h"

namespace ocs {
namespace {

constexpr int kFailureLevel = 5;

}  // namespace

std::string StripRecordFrame(const std::string& record) {
  std::string text = record;
  if (!text.empty() && text.front() == '[') {
    const auto close = text.find(']');
    if (close != std::string::npos) {
      text.erase(0, close + 1);
    }
  }
  if (!text.empty() && text.back() == ']') {
    const auto open = text.rfind('[');
    if (open != std::string::npos && text.compare(text.size() - 2, 2, ")]") == 0) {
      text.erase(open);
    }
  }
  return text;
}

LogRecorder::LogRecorder(bool verbose) : verbose_(verbose) {
  Orca::CloudStorage::SetLogSink(&LogRecorder::Sink, this);
}

LogRecorder::~LogRecorder() { Orca::CloudStorage::SetLogSink(nullptr, nullptr); }

std::string LogRecorder::FirstFailure() {
  std::lock_guard<std::mutex> lock(mutex_);
  return first_failure_;
}

void LogRecorder::Sink(int level, const char* module, const char* message, void* context) {
  auto* self = static_cast<LogRecorder*>(context);
  std::lock_guard<std::mutex> lock(self->mutex_);
  if (self->verbose_) {
    std::fprintf(stderr, "[%d] %s %s\n", level, module, message);
  }
  if (level >= kFailureLevel && self->first_failure_.empty()) {
    self->first_failure_ = StripRecordFrame(message);
  }
}

}  // namespace ocs
