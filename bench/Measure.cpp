#include "Measure.h"

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

void PrintResult(const std::string& op, const OpResult& result, long peak_before_kib) {
  const long peak = PeakRssKib();
  std::printf(
      "RESULT {\"op\":%s,\"ok\":%s,\"count\":%llu,\"bytes\":%llu,\"seconds\":%.6f,"
      "\"completion_seconds\":%.6f,"
      "\"peak_rss_kib\":%ld,\"rss_growth_kib\":%ld,\"url\":%s,\"error\":%s}\n",
      JsonString(op).c_str(), result.ok ? "true" : "false",
      static_cast<unsigned long long>(result.count), static_cast<unsigned long long>(result.bytes),
      result.seconds, result.completion_seconds, peak, peak - peak_before_kib,
      JsonString(result.url).c_str(), JsonString(result.error).c_str());
  std::fflush(stdout);
}

}  // namespace bench
