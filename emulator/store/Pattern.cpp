#include "emulator/store/Pattern.h"

#include <charconv>
#include <cstring>

namespace ocs {
namespace {

constexpr uint64_t kMaxGeneratedSize = uint64_t{1} << 50;

// SplitMix64's finaliser: a cheap, well-mixed function of one word.
uint64_t Mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// The 8 pattern bytes of word `index` (bytes 8 * index to 8 * index + 7).
uint64_t PatternWord(uint64_t seed_key, uint64_t index) { return Mix(seed_key + index); }

bool ParseDecimal(const char* begin, const char* end, uint64_t* value) {
  if (begin == end || (*begin == '0' && end - begin > 1)) {
    return false;
  }
  const auto result = std::from_chars(begin, end, *value);
  return result.ec == std::errc() && result.ptr == end;
}

uint64_t UnitOf(char suffix) {
  switch (suffix) {
    case 'K':
      return uint64_t{1} << 10;
    case 'M':
      return uint64_t{1} << 20;
    case 'G':
      return uint64_t{1} << 30;
    default:
      return 0;
  }
}

}  // namespace

std::optional<GeneratedObject> ParseGeneratedKey(const std::string& key) {
  static const std::string kPrefix = "gen-";
  static const std::string kSuffix = ".bin";
  if (key.size() <= kPrefix.size() + kSuffix.size() || key.compare(0, kPrefix.size(), kPrefix) ||
      key.compare(key.size() - kSuffix.size(), kSuffix.size(), kSuffix)) {
    return std::nullopt;
  }
  const char* begin = key.data() + kPrefix.size();
  const char* end = key.data() + key.size() - kSuffix.size();
  const char* dash = static_cast<const char*>(std::memchr(begin, '-', end - begin));
  if (dash == nullptr) {
    return std::nullopt;
  }
  const char* size_end = dash;
  uint64_t unit = 1;
  if (size_end > begin && UnitOf(size_end[-1]) != 0) {
    unit = UnitOf(size_end[-1]);
    --size_end;
  }
  GeneratedObject object;
  if (!ParseDecimal(begin, size_end, &object.size) || !ParseDecimal(dash + 1, end, &object.seed) ||
      object.size > kMaxGeneratedSize / unit) {
    return std::nullopt;
  }
  object.size *= unit;
  return object;
}

std::string MakeGeneratedKey(uint64_t size, uint64_t seed) {
  return "gen-" + std::to_string(size) + "-" + std::to_string(seed) + ".bin";
}

void FillPattern(uint64_t seed, uint64_t offset, char* out, size_t n) {
  const uint64_t seed_key = Mix(seed);
  while (n > 0) {
    const uint64_t word = PatternWord(seed_key, offset / 8);
    const size_t skip = offset % 8;
    const size_t take = n < 8 - skip ? n : 8 - skip;
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) {
      bytes[i] = static_cast<unsigned char>(word >> (8 * i));
    }
    std::memcpy(out, bytes + skip, take);
    out += take;
    offset += take;
    n -= take;
  }
}

}  // namespace ocs
