// The peak resident set of this process, for tests that bound the memory an
// operation takes. Measure in a child process of its own (EXPECT_EXIT),
// where nothing else has raised the peak.
#ifndef ORCA_TEST_SUPPORT_RSS_PEAKRSS_H_
#define ORCA_TEST_SUPPORT_RSS_PEAKRSS_H_

#include <fstream>
#include <string>

namespace orca_test {

// VmHWM of /proc/self/status, in KiB; -1 when it cannot be read.
inline long PeakRssKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace orca_test

#endif  // ORCA_TEST_SUPPORT_RSS_PEAKRSS_H_
