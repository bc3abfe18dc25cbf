#include "emulator/service/Ranges.h"

#include <strings.h>

#include <charconv>
#include <optional>

namespace ocs {
namespace {

std::string Trim(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) {
    return "";
  }
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// A non-empty run of decimal digits that fits 64 bits.
std::optional<uint64_t> ParseCount(const std::string& text) {
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (text.empty() || result.ec != std::errc() || result.ptr != end) {
    return std::nullopt;
  }
  return value;
}

RangeOutcome Invalid(std::string* why, std::string message) {
  *why = std::move(message);
  return RangeOutcome::kInvalid;
}

}  // namespace

RangeOutcome ResolveRange(const std::string& header, uint64_t size, ByteRange* range,
                          std::string* why) {
  if (header.empty()) {
    return RangeOutcome::kWhole;
  }
  const std::string unit = "bytes=";
  if (header.size() < unit.size() || strncasecmp(header.c_str(), unit.c_str(), unit.size()) != 0) {
    return Invalid(why, "the Range unit must be bytes");
  }
  const std::string range_set = Trim(header.substr(unit.size()));
  if (range_set.find(',') != std::string::npos) {
    return Invalid(why, "only one range is served");
  }
  const size_t dash = range_set.find('-');
  if (dash == std::string::npos) {
    return Invalid(why, "a range needs a '-'");
  }
  const std::string first_text = Trim(range_set.substr(0, dash));
  const std::string last_text = Trim(range_set.substr(dash + 1));
  if (first_text.empty()) {  // -suffix
    const auto suffix = ParseCount(last_text);
    if (!suffix || *suffix == 0 || size == 0) {
      return Invalid(why, "unsatisfiable suffix range");
    }
    range->first = *suffix >= size ? 0 : size - *suffix;
    range->last = size - 1;
    return RangeOutcome::kRange;
  }
  const auto first = ParseCount(first_text);
  const auto last = last_text.empty() ? std::optional<uint64_t>(UINT64_MAX) : ParseCount(last_text);
  if (!first || !last || *last < *first) {
    return Invalid(why, "malformed range");
  }
  if (*first >= size) {
    return Invalid(why, "the range starts at or after the end of the object");
  }
  range->first = *first;
  range->last = *last >= size ? size - 1 : *last;
  return RangeOutcome::kRange;
}

}  // namespace ocs
