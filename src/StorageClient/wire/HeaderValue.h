// Reading numbers from answer header fields.
#ifndef ORCA_CS_WIRE_HEADERVALUE_H_
#define ORCA_CS_WIRE_HEADERVALUE_H_

#include <cstdint>
#include <string>

namespace Orca {
namespace CloudStorage {

// The leading decimal digits of `text`: 0 when there are none, the largest
// value when they overflow.
uint64_t LeadingDecimal(const std::string& text);

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_WIRE_HEADERVALUE_H_
