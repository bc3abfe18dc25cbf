#include "wire/HeaderValue.h"

#include <charconv>

namespace Orca {
namespace CloudStorage {

uint64_t LeadingDecimal(const std::string& text) {
  uint64_t value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc::result_out_of_range ? UINT64_MAX : value;
}

}  // namespace CloudStorage
}  // namespace Orca
