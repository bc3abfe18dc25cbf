// Huge-page advice on large buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "base/Memory.h"

namespace {

constexpr size_t kMiB = size_t{1024} * 1024;

// True when transparent huge pages can be asked for with madvise.
bool HugePagesOnRequest() {
  std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string text;
  std::getline(mode, text);
  return text.find("[always]") != std::string::npos || text.find("[madvise]") != std::string::npos;
}

// AnonHugePages (KiB) of the mapping of /proc/self/smaps that holds `address`.
long HugePagesKibAt(const void* address) {
  const auto target = reinterpret_cast<uintptr_t>(address);
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    unsigned long long begin = 0;
    unsigned long long end = 0;
    if (std::sscanf(line.c_str(), "%llx-%llx ", &begin, &end) == 2) {  // a mapping starts
      inside = begin <= target && target < end;
    } else if (inside && line.rfind("AnonHugePages:", 0) == 0) {
      return std::stol(line.substr(14));
    }
  }
  return -1;
}

TEST(MemoryTest, LargeBufferGetsHugePagesSmallOnesAreLeftAlone) {
  // Unaligned starts and sizes too short for a whole huge page are fine.
  std::unique_ptr<char[]> small(new char[3 * kMiB]);
  for (const size_t size : {size_t{0}, 2 * kMiB - 1, 2 * kMiB + 1}) {
    Orca::Base::AdviseHugePages(small.get() + 1, size);
  }

  if (!HugePagesOnRequest()) {
    GTEST_SKIP() << "transparent huge pages are off on this system";
  }
  const size_t size = 16 * kMiB + 1;
  std::unique_ptr<char[]> buffer(new char[size]);
  Orca::Base::AdviseHugePages(buffer.get(), size);
  std::memset(buffer.get(), 0, size);
  EXPECT_GE(HugePagesKibAt(buffer.get() + 8 * kMiB), 2048);
}

}  // namespace
