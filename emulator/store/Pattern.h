// Generated objects: keys of the form "gen-<size>-<seed>.bin" name a
// deterministic byte pattern that is served without ever being stored, so
// that downloads of many GiB can be tested on a small disk.
#ifndef OCS_EMULATOR_STORE_PATTERN_H_
#define OCS_EMULATOR_STORE_PATTERN_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace ocs {

struct GeneratedObject {
  uint64_t size = 0;
  uint64_t seed = 0;
};

// Parses a key of the reserved form. The size is decimal, optionally followed
// by K, M or G (powers of 1024); the seed is decimal. Anything else is not a
// generated object.
std::optional<GeneratedObject> ParseGeneratedKey(const std::string& key);

// The key for an object of `size` bytes (plain decimal) and `seed`.
std::string MakeGeneratedKey(uint64_t size, uint64_t seed);

// Writes the `n` bytes of the pattern of `seed` that start at `offset`.
void FillPattern(uint64_t seed, uint64_t offset, char* out, size_t n);

}  // namespace ocs

#endif  // OCS_EMULATOR_STORE_PATTERN_H_
