#include "base/StrFmt.h"

#include <cstdio>

namespace Orca {
namespace Base {

std::string str_fmt_v(const char* fmt, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int needed = std::vsnprintf(nullptr, 0, fmt, measure);
  va_end(measure);
  if (needed <= 0) {
    return std::string();
  }
  std::string out(static_cast<size_t>(needed), '\0');
  std::vsnprintf(out.data(), out.size() + 1, fmt, args);
  return out;
}

std::string str_fmt(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string out = str_fmt_v(fmt, args);
  va_end(args);
  return out;
}

}  // namespace Base
}  // namespace Orca
