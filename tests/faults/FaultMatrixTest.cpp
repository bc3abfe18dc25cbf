// The fault matrix, one test per operation (see FaultCells.cpp for the
// cells). The grid of outcomes and the totals are printed when the run ends.
#include <gtest/gtest.h>

#include <iostream>
#include <vector>

#include "FaultMatrix.h"
#include "MatrixHarness.h"

namespace orca_test {
namespace {

// Failed assertions of the running test so far.
int FailedParts() {
  const ::testing::TestResult* result =
      ::testing::UnitTest::GetInstance()->current_test_info()->result();
  int failed = 0;
  for (int i = 0; i < result->total_part_count(); ++i) {
    failed += result->GetTestPartResult(i).failed() ? 1 : 0;
  }
  return failed;
}

class TotalsPrinter : public ::testing::Environment {
 public:
  void TearDown() override { MatrixTally::Instance().Print(std::cout); }
};

const auto* const kTotalsPrinter = ::testing::AddGlobalTestEnvironment(new TotalsPrinter);

class FaultMatrixTest : public ::testing::TestWithParam<Op> {};

TEST_P(FaultMatrixTest, EveryFault) {
  for (const Cell& cell : MatrixCells()) {
    if (cell.op != GetParam()) {
      continue;
    }
    const int failed_before = FailedParts();
    const CellOutcome outcome = MatrixHarness::Instance().Run(cell);
    MatrixTally::Instance().Record(cell, outcome, FailedParts() == failed_before);
  }
}

std::vector<Op> Operations() {
  std::vector<Op> ops;
  for (const Cell& cell : MatrixCells()) {
    if (ops.empty() || ops.back() != cell.op) {
      ops.push_back(cell.op);
    }
  }
  return ops;
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultMatrixTest, ::testing::ValuesIn(Operations()),
                         [](const ::testing::TestParamInfo<Op>& op) { return OpName(op.param); });

}  // namespace
}  // namespace orca_test
