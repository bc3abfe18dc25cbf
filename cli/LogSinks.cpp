#include "cli/LogSinks.h"

#include <cstdint>
#include <cstdio>
#include <sstream>

#include "OrcaCloudStorage/StorageClient.h"

namespace ocs {
namespace {

constexpr int kRetryLevel = 4;
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

std::optional<std::string> RetryNotice(const std::string& record) {
  const std::string text = StripRecordFrame(record);
  const std::string marker = "retry: attempt ";
  const size_t at = text.find(marker);
  if (at == std::string::npos) {
    return std::nullopt;
  }
  // "N of M in D ms, after CAUSE"
  std::istringstream in(text.substr(at + marker.size()));
  uint32_t attempt = 0;
  uint32_t attempts = 0;
  uint32_t delay_ms = 0;
  std::string of;
  std::string in_word;
  std::string ms;
  std::string after;
  std::string cause;
  in >> attempt >> of >> attempts >> in_word >> delay_ms >> ms >> after;
  std::getline(in >> std::ws, cause);
  if (!in || of != "of" || in_word != "in" || ms != "ms," || after != "after") {
    return std::nullopt;
  }
  return "retry " + std::to_string(attempt) + "/" + std::to_string(attempts) + " in " +
         std::to_string(delay_ms) + " ms (" + cause + ")";
}

LogRecorder::LogRecorder(bool verbose, ProgressBar& bar) : verbose_(verbose), bar_(bar) {
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
  if (level == kRetryLevel) {
    if (const auto notice = RetryNotice(message)) {
      self->bar_.Note("ocs: " + *notice);
    }
  }
}

}  // namespace ocs
