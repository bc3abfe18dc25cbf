#include "log/VekLog.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "base/Clock.h"
#include "base/StrFmt.h"

namespace veklog {
namespace {

struct SinkSlot {
  std::mutex mutex;
  Sink sink = nullptr;
  void* context = nullptr;
};

SinkSlot& Slot() {
  static SinkSlot slot;
  return slot;
}

int DefaultThreshold() {
  static const int threshold = [] {
    const char* text = std::getenv("ORCA_CS_LOG_LEVEL");
    return text != nullptr && *text != '\0' ? std::atoi(text) : kLevelError;
  }();
  return threshold;
}

void WriteToStderr(int level, const char* module, const std::string& message) {
  std::tm utc{};
  char stamp[32] = "";
  if (Orca::Base::UtcTime(Orca::Base::UnixTimeNow(), utc)) {
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%SZ", &utc);
  }
  std::fprintf(stderr, "%s [%d] %s %s\n", stamp, level, module, message.c_str());
}

}  // namespace

void WriteV(int level, const char* module, const char* fmt, va_list args) {
  Sink sink = nullptr;
  void* context = nullptr;
  {
    SinkSlot& slot = Slot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    sink = slot.sink;
    context = slot.context;
  }
  if (sink == nullptr && level < DefaultThreshold()) {
    return;
  }
  const std::string message = Orca::Base::str_fmt_v(fmt, args);
  if (sink != nullptr) {
    sink(level, module, message.c_str(), context);
  } else {
    WriteToStderr(level, module, message);
  }
}

void SetSink(Sink sink, void* context) {
  SinkSlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  slot.sink = sink;
  slot.context = context;
}

void Write(int level, const char* module, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  WriteV(level, module, fmt, args);
  va_end(args);
}

}  // namespace veklog
