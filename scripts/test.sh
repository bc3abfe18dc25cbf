#!/usr/bin/env bash
# The whole test suite, as CI runs it: set-up, the dev build (AddressSanitizer
# and UBSan) with every test and the API reference, the concurrency tests
# under ThreadSanitizer, then each fuzz target for a bounded time
# (FUZZ_SECONDS, 45 by default).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

jobs=$(nproc)
cmake --preset dev
cmake --build --preset dev -j "$jobs"
cmake --build --preset dev --target docs  # fails on any undocumented declaration
ctest --preset dev -j "$jobs" -E '^Operations/FaultMatrixTest[.]'
# The fault matrix in one process, so that it prints its totals.
matrix_log=$(mktemp)
if ! build/dev/tests/faults/fault_matrix_tests --gtest_brief=1 > "$matrix_log" 2>&1; then
  cat "$matrix_log"
  exit 1
fi
grep '^Fault matrix:' "$matrix_log"
rm -f "$matrix_log"

cmake --preset tsan
cmake --build --preset tsan -j "$jobs" --target concurrency_tests
ctest --preset tsan -j "$jobs"

./scripts/fuzz.sh "${FUZZ_SECONDS:-45}"

# The demo and the installed package, against the dev build (CI builds no
# release tree).
OCS_BUILD_DIR=build/dev ./scripts/demo.sh
OCS_BUILD_DIR=build/dev ./scripts/check-install.sh
