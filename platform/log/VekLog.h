// Logger: one entry point for every log record of the library.
#ifndef ORCA_PLATFORM_LOG_VEKLOG_H_
#define ORCA_PLATFORM_LOG_VEKLOG_H_

#include <cstdarg>

namespace veklog {

inline constexpr int kLevelTrace = 2;    // request traces
inline constexpr int kLevelSuccess = 3;  // success lines
inline constexpr int kLevelWarning = 4;  // platform warnings
inline constexpr int kLevelError = 5;    // failures

// Receives every record: its level, module and formatted message, and the
// context given with the sink. Called on the thread that logs.
using Sink = void (*)(int level, const char* module, const char* message, void* context);

// Installs `sink` for all later records; nullptr restores the default sink,
// which writes to standard error the records at or above the level named by
// ORCA_CS_LOG_LEVEL (5 when unset).
void SetSink(Sink sink, void* context);

// Formats printf-style and hands the record to the installed sink or to the
// default standard-error sink.
void Write(int level, const char* module, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
void WriteV(int level, const char* module, const char* fmt, va_list args)
    __attribute__((format(printf, 3, 0)));

}  // namespace veklog

#endif  // ORCA_PLATFORM_LOG_VEKLOG_H_
