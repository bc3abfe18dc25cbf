// The Date text clients send: RFC 1123 in UTC, with the day of the month
// padded by a space rather than a zero ("Fri,  4 Dec 2026 12:55:16 GMT").
#ifndef OCS_EMULATOR_HTTP_HTTPDATE_H_
#define OCS_EMULATOR_HTTP_HTTPDATE_H_

#include <cstdint>
#include <optional>
#include <string>

namespace ocs {

// Seconds since the Unix epoch, or nothing when `text` is not exactly of the
// form above (weekday matching the date, fields in range, "GMT" zone).
std::optional<int64_t> ParseClientDate(const std::string& text);

// Formats `seconds` since the epoch in the same form.
std::string FormatClientDate(int64_t seconds);

}  // namespace ocs

#endif  // OCS_EMULATOR_HTTP_HTTPDATE_H_
