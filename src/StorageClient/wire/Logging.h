// Log records of the library. Every record reads
//   "[<qualified function>]<text>[<source file>(<line>)]"
// and goes to the logger under the module "platform.LocalStorage". The
// format strings passed here are written out whole, including the leading
// "[%s]" and the trailing "[%s(%d)]", which these macros fill.
#ifndef ORCA_CS_LOGGING_H_
#define ORCA_CS_LOGGING_H_

#include <string>

#include "log/VekLog.h"

namespace Orca {
namespace CloudStorage {

inline constexpr char kLogModule[] = "platform.LocalStorage";

// The steps named by the records of a download to a file, wherever they run.
inline constexpr char kDownloadObject[] = "Orca::CloudStorage::CObjectProtoClient::DownloadObject";
inline constexpr char kRecvMsgCallback[] =
    "Orca::CloudStorage::CObjectProtoClient::RecvMsgCallback";

// "bool Orca::CloudStorage::CObjectClient::Init()" -> "Orca::CloudStorage::CObjectClient::Init"
std::string QualifiedFunctionName(const char* pretty_function);

// A server body as quoted in log records and error messages: whole up to
// kMaxQuotedBody bytes, else cut there with a note of how much was left out.
std::string QuoteBody(const std::string& body);

// A secret as it may appear in a log record: its length only.
std::string MaskSecret(const std::string& secret);

}  // namespace CloudStorage
}  // namespace Orca

// Writes a record on behalf of the function named `function` (a helper
// shared by several operations passes its caller's name).
#define ORCA_CS_LOG_AS(level, function, fmt, ...)                                                  \
  ::veklog::Write(level, ::Orca::CloudStorage::kLogModule, fmt, function, ##__VA_ARGS__, __FILE__, \
                  __LINE__)

// Declares `var`: the qualified name of the enclosing function.
#define ORCA_CS_FUNCTION_NAME(var) \
  static const std::string var = ::Orca::CloudStorage::QualifiedFunctionName(__PRETTY_FUNCTION__)

#define ORCA_CS_LOG(level, fmt, ...)                                      \
  do {                                                                    \
    ORCA_CS_FUNCTION_NAME(orca_cs_function_);                             \
    ORCA_CS_LOG_AS(level, orca_cs_function_.c_str(), fmt, ##__VA_ARGS__); \
  } while (0)

#define LOG_TRACE(fmt, ...) ORCA_CS_LOG(::veklog::kLevelTrace, fmt, ##__VA_ARGS__)
#define LOG_SUCCESS(fmt, ...) ORCA_CS_LOG(::veklog::kLevelSuccess, fmt, ##__VA_ARGS__)
#define LOG_ERROR(fmt, ...) ORCA_CS_LOG(::veklog::kLevelError, fmt, ##__VA_ARGS__)

#endif  // ORCA_CS_LOGGING_H_
