// What one bench_driver invocation measured, and how it is printed: one line
//
//   RESULT {"op":"put-file","ok":true,"count":1,"bytes":268435456,
//           "seconds":0.61,"completion_seconds":0.09,"cpu_seconds":0.52,
//           "peak_rss_kib":20480,"rss_growth_kib":16384,...}
//
// `seconds` covers the library calls only (set-up, checks and clean-up are
// left out); `cpu_seconds` is the processor time (user and system, all
// threads) from the start of the calls to the end; `peak_rss_kib` is the process's peak resident
// set after the calls (VmHWM), `rss_growth_kib` how far the calls raised it above the peak reached
// while preparing their inputs.
#ifndef ORCA_BENCH_MEASURE_H_
#define ORCA_BENCH_MEASURE_H_

#include <chrono>
#include <cstdint>
#include <string>

namespace bench {

// Peak resident set of this process image so far (VmHWM), in KiB.
long PeakRssKib();

// Processor time of this process so far (user and system, all threads).
double CpuSeconds();

// The process's state before the calls, for PrintResult.
struct Baseline {
  long peak_rss_kib = PeakRssKib();
  double cpu_seconds = CpuSeconds();
};

// Adds up the time spent between Start and Stop.
class Stopwatch {
 public:
  using Clock = std::chrono::steady_clock;

  void Start() { started_ = Clock::now(); }
  // Returns when it stopped.
  Clock::time_point Stop() {
    const Clock::time_point now = Clock::now();
    total_ += now - started_;
    return now;
  }
  Clock::time_point started() const { return started_; }
  double Seconds() const { return std::chrono::duration<double>(total_).count(); }

 private:
  Clock::time_point started_;
  Clock::duration total_{};
};

struct OpResult {
  bool ok = true;
  uint64_t count = 0;  // operations (or round trips) completed
  uint64_t bytes = 0;  // object bytes moved by them
  double seconds = 0;
  double completion_seconds = 0;  // of `seconds`: multipart completion requests
  std::string url;                // the last object URL uploaded, if any
  std::string error;              // why the run failed
};

// Prints `result` as the RESULT line, with the processor time and memory
// figures since `before`.
void PrintResult(const std::string& op, const OpResult& result, const Baseline& before);

}  // namespace bench

#endif  // ORCA_BENCH_MEASURE_H_
