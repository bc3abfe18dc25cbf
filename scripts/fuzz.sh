#!/usr/bin/env bash
# Builds the fuzz targets (fuzz preset: clang, libFuzzer, ASan and UBSan) and
# runs each one for a bounded time from its seed corpus (tests/fuzz/corpus).
# Fails on the first crash or broken property; the input that caused it is
# kept in <build>/crashes/<target>/ and belongs, once the fault is mended, in
# tests/fuzz/regressions/<target>/, which the test suite replays.
#
#   scripts/fuzz.sh [seconds per target]     (default 45)
#   FUZZ_BUILD_DIR=build/other scripts/fuzz.sh
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-45}
build=${FUZZ_BUILD_DIR:-build/fuzz}
targets=(document download_answer emulator_request)

cmake --preset fuzz -B "$build" > /dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_targets

# RapidJSON's known null-pointer arithmetic is suppressed; any other report of
# UndefinedBehaviorSanitizer ends the run like a crash.
export UBSAN_OPTIONS="suppressions=$PWD/tests/fuzz/ubsan.supp:halt_on_error=1:print_stacktrace=1"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for target in "${targets[@]}"; do
  crashes="$build/crashes/$target"
  mkdir -p "$crashes" "$work/$target"
  log="$work/$target.log"
  # New inputs go to a scratch corpus; the seeds in the repository stay as
  # they are.
  if ! "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$crashes/" \
      "$work/$target" "tests/fuzz/corpus/$target" > "$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $target failed; the input is in $crashes/" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  peak=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
  echo "fuzz: $target: $runs executions in ${seconds}s, peak RSS ${peak} MiB, no crash"
done
