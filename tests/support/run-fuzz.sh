#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, in the `asan` tree) and runs each for a bounded time, a few at once.
# New inputs collect in build/asan/fuzz-corpus/<target>; the seeds in tests/fuzz/corpus stay as they are.
# A finding fails the run with its input under build/asan/fuzz-findings/.
# Usage: run-fuzz.sh [seconds per target] [targets at once]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
parallel=${2:-2}
build=build/asan
targets=(header layout settings base64 certificate txt)

cmake --preset asan >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/qb_fuzz_}"
mkdir -p "$build/fuzz-findings" "$build/fuzz-logs"

run_one() {
  local name=$1 seconds=$2 build=$3
  mkdir -p "$build/fuzz-corpus/$name"
  if "$build/tests/fuzz/qb_fuzz_$name" "$build/fuzz-corpus/$name" "tests/fuzz/corpus/$name" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/fuzz-findings/$name-" >"$build/fuzz-logs/$name.log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz-logs/$name.log")
    echo "fuzz $name: ${runs:-?} executions in ${seconds} s, no finding"
  else
    echo "fuzz $name: FINDING, see $build/fuzz-logs/$name.log and $build/fuzz-findings/"
    tail -n 40 "$build/fuzz-logs/$name.log"
    return 1
  fi
}
export -f run_one
printf '%s\n' "${targets[@]}" | xargs -P "$parallel" -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$build"
