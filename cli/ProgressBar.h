// A one-line progress bar on standard error:
//   [##########..........]  50%  32.0 MiB / 64.0 MiB  210.5 MiB/s  ETA 0:00
// drawn only when standard error is a terminal and --quiet is not given.
// Notes (retries) take the bar's line, and the bar goes on below them.
#ifndef OCS_CLI_PROGRESS_BAR_H_
#define OCS_CLI_PROGRESS_BAR_H_

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace ocs {

// One moment of a transfer. Unknown values are negative (percent) or 0 (total).
struct ProgressSample {
  int percent = -1;
  uint64_t bytes = 0;
  uint64_t total = 0;
  double seconds = 0;  // since the transfer started
};

// The bar's text for `sample`, without line control characters.
std::string FormatProgress(const ProgressSample& sample);

// "512 B", "1.5 KiB", "64.0 MiB", "2.0 GiB".
std::string HumanBytes(uint64_t bytes);

// True when a bar should be drawn: standard error is a terminal and not `quiet`.
bool ProgressWanted(bool quiet);

class ProgressBar {
 public:
  // Draws nothing unless `enabled`. The clock starts now.
  explicit ProgressBar(bool enabled);
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Redraws the bar. May be called from any thread.
  void Update(int percent, uint64_t bytes, uint64_t total);
  // Prints `text` as a line of its own on standard error, above the bar when
  // one is drawn. May be called from any thread.
  void Note(const std::string& text);
  // Ends the line if a bar was drawn.
  void Finish();

 private:
  const bool enabled_;
  const std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  bool drawn_ = false;
  std::string line_;  // the bar last drawn
};

}  // namespace ocs

#endif  // OCS_CLI_PROGRESS_BAR_H_
