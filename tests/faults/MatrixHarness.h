// Runs the cells of the fault matrix against emulators of this process and
// keeps the tally that is printed at the end of the run.
#ifndef ORCA_TEST_FAULTS_MATRIXHARNESS_H_
#define ORCA_TEST_FAULTS_MATRIXHARNESS_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "Emulator.h"
#include "FaultMatrix.h"
#include "MatrixOperations.h"

namespace orca_test {

// What the call reported (its result and the recorded code) and the heap it
// took at its peak.
struct CellOutcome {
  bool ok = false;
  int32_t code = 0;
  int64_t heap_growth = 0;
};

class MatrixHarness {
 public:
  static MatrixHarness& Instance();

  // Runs `cell` with GoogleTest assertions: the call returns in time, with
  // the expected result and code, a success is verified through the
  // emulator, a failure leaves the out arguments alone, no partial object is
  // visible, no secret leaks into the message, heap growth stays bounded.
  CellOutcome Run(const Cell& cell);

 private:
  // What a cell's call reported and cost.
  struct CallReport {
    bool ok = false;
    ErrorState error;
    std::chrono::steady_clock::duration took{};
    int64_t heap_growth = 0;
  };

  MatrixHarness();
  ~MatrixHarness();
  Emulator& EmulatorFor(bool https);
  // Puts the cell's fault in place: an emulator rule, or dead ports.
  void Arm(const Cell& cell, const MatrixOperation& operation, CellEnv& env);
  // Time, memory, secrets, result and code of the call.
  void CheckCall(const Cell& cell, const MatrixOperation& operation, const CallReport& call);
  void CheckVisibleObjects(Emulator& emulator, const std::vector<std::string>& before,
                           const std::string* stored);
  void CheckStoredPictures(Emulator& emulator, const std::string& picture);

  std::string dir_;
  int dead_socket_ = -1;  // bound, never listening: connections are refused
  uint32_t dead_port_ = 0;
  std::unique_ptr<Emulator> http_;
  std::unique_ptr<Emulator> https_;
  int cells_run_ = 0;
};

// Cells run in this process, by operation, for the summary.
class MatrixTally {
 public:
  static MatrixTally& Instance();
  void Record(const Cell& cell, const CellOutcome& outcome, bool passed);
  // The grid of outcomes (operations by faults) and the totals.
  void Print(std::ostream& out) const;

 private:
  struct Entry {
    Cell cell;
    CellOutcome outcome;
    bool passed;
  };
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace orca_test

#endif  // ORCA_TEST_FAULTS_MATRIXHARNESS_H_
