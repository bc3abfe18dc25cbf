// Byte ranges of the Range header (RFC 7233), resolved against an object's
// size. The service answers a satisfiable range with status 200 and exactly
// the bytes of the range.
#ifndef OCS_EMULATOR_SERVICE_RANGES_H_
#define OCS_EMULATOR_SERVICE_RANGES_H_

#include <cstdint>
#include <string>

namespace ocs {

struct ByteRange {
  uint64_t first = 0;  // inclusive
  uint64_t last = 0;   // inclusive
  uint64_t length() const { return last - first + 1; }
};

enum class RangeOutcome {
  kWhole,    // no Range header: the whole object
  kRange,    // one satisfiable range
  kInvalid,  // malformed, several ranges, or not satisfiable
};

// Resolves the Range header `header` ("" when absent) for an object of `size`
// bytes: "bytes=first-last" (last clamped to the end), "bytes=first-" and
// "bytes=-suffix". On kInvalid `why` says what is wrong.
RangeOutcome ResolveRange(const std::string& header, uint64_t size, ByteRange* range,
                          std::string* why);

}  // namespace ocs

#endif  // OCS_EMULATOR_SERVICE_RANGES_H_
