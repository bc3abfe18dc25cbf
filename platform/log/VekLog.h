// Logger: one entry point for every log record of the library.
#ifndef ORCA_PLATFORM_LOG_VEKLOG_H_
#define ORCA_PLATFORM_LOG_VEKLOG_H_

#include <cstdarg>

namespace veklog {

inline constexpr int kLevelTrace = 2;    // request traces
inline constexpr int kLevelSuccess = 3;  // success lines
inline constexpr int kLevelWarning = 4;  // platform warnings
inline constexpr int kLevelError = 5;    // failures

// Formats printf-style and hands the record to the installed sink (see
// Orca::CloudStorage::SetLogSink) or to the default standard-error sink.
void Write(int level, const char* module, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
void WriteV(int level, const char* module, const char* fmt, va_list args)
    __attribute__((format(printf, 3, 0)));

}  // namespace veklog

#endif  // ORCA_PLATFORM_LOG_VEKLOG_H_
