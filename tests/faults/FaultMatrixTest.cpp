// The fault matrix, one test per operation and column (see FaultCells.cpp
// for the cells).
#include <gtest/gtest.h>

#include "FaultMatrix.h"

namespace orca_test {
namespace {

class FaultMatrixTest : public ::testing::TestWithParam<OpCells> {};

TEST_P(FaultMatrixTest, EveryFault) {
  for (const Cell& cell : GetParam().cells) {
    RunCell(GetParam(), cell);
  }
}

TEST_P(FaultMatrixTest, EveryFaultWithRetries) {
  for (const Cell& cell : GetParam().retried) {
    RunCell(GetParam(), cell);
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultMatrixTest, ::testing::ValuesIn(MatrixCells()),
                         [](const ::testing::TestParamInfo<OpCells>& op) { return op.param.name; });

}  // namespace
}  // namespace orca_test
