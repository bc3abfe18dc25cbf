#include "Measure.h"

#include <sys/resource.h>

#include <cstdio>
#include <fstream>

namespace bench {
namespace {

// The text as a JSON string (quotes, backslashes and control bytes escaped).
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

long PeakRssKib() {
  // Not getrusage's ru_maxrss: Linux carries that over from the parent
  // across fork and exec, so a large parent (a script) would mask ours.
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) {
      return std::stol(line.substr(6));
    }
  }
  return -1;
}

double CpuSeconds() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) {
    return 0;
  }
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void PrintResult(const std::string& op, const OpResult& result, const Baseline& before) {
  const long peak = PeakRssKib();
  std::printf(
      "RESULT {\"op\":%s,\"ok\":%s,\"count\":%llu,\"bytes\":%llu,\"seconds\":%.6f,"
      "\"completion_seconds\":%.6f,\"cpu_seconds\":%.6f,"
      "\"peak_rss_kib\":%ld,\"rss_growth_kib\":%ld,\"url\":%s,\"error\":%s}\n",
      JsonString(op).c_str(), result.ok ? "true" : "false",
      static_cast<unsigned long long>(result.count), static_cast<unsigned long long>(result.bytes),
      result.seconds, result.completion_seconds, CpuSeconds() - before.cpu_seconds, peak,
      peak - before.peak_rss_kib, JsonString(result.url).c_str(), JsonString(result.error).c_str());
  std::fflush(stdout);
}

}  // namespace bench
