// printf-style formatting into a byte string.
#ifndef ORCA_PLATFORM_BASE_STRFMT_H_
#define ORCA_PLATFORM_BASE_STRFMT_H_

#include <cstdarg>
#include <string>

namespace Orca {
namespace Base {

std::string str_fmt(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string str_fmt_v(const char* fmt, va_list args) __attribute__((format(printf, 1, 0)));

}  // namespace Base
}  // namespace Orca

#endif  // ORCA_PLATFORM_BASE_STRFMT_H_
