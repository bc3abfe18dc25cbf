#include "cli/ProgressBar.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ocs {
namespace {

constexpr int kBarWidth = 20;

std::string OneDecimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string PaddedPercent(int percent) {
  const std::string digits = std::to_string(percent);
  return std::string(digits.size() < 3 ? 3 - digits.size() : 0, ' ') + digits + "%";
}

std::string Bar(int percent) {
  const int filled = std::clamp(percent, 0, 100) * kBarWidth / 100;
  return "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "]";
}

std::string Minutes(double seconds) {
  const long whole = std::lround(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

}  // namespace

std::string HumanBytes(uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) {
    return std::to_string(bytes) + " B";
  }
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  for (; value >= 1024 && unit + 1 < std::size(kUnits); ++unit) {
    value /= 1024;
  }
  return OneDecimal(value) + " " + kUnits[unit];
}

std::string FormatProgress(const ProgressSample& sample) {
  std::string line;
  if (sample.percent >= 0) {
    line = Bar(sample.percent) + " " + PaddedPercent(sample.percent) + "  ";
  }
  line += HumanBytes(sample.bytes);
  if (sample.total > 0) {
    line += " / " + HumanBytes(sample.total);
  }
  if (sample.seconds > 0) {
    const double rate = static_cast<double>(sample.bytes) / sample.seconds;
    line += "  " + HumanBytes(static_cast<uint64_t>(rate)) + "/s";
  }
  if (sample.percent > 0 && sample.percent < 100) {
    line += "  ETA " + Minutes(sample.seconds * (100 - sample.percent) / sample.percent);
  }
  return line;
}

bool ProgressWanted(bool quiet) { return !quiet && isatty(STDERR_FILENO) == 1; }

ProgressBar::ProgressBar(bool enabled)
    : enabled_(enabled), start_(std::chrono::steady_clock::now()) {}

void ProgressBar::Update(int percent, uint64_t bytes, uint64_t total) {
  if (!enabled_) {
    return;
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  const std::string line = FormatProgress({percent, bytes, total, elapsed.count()});
  std::lock_guard<std::mutex> lock(mutex_);
  // Carriage return, the line, then erase what a longer earlier line left.
  std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
  line_ = line;
}

void ProgressBar::Note(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_) {
    std::fprintf(stderr, "\r%s\x1b[K\n%s", text.c_str(), line_.c_str());
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  std::fflush(stderr);
}

void ProgressBar::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_) {
    std::fputc('\n', stderr);
    drawn_ = false;
  }
}

}  // namespace ocs
