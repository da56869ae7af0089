#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (preset `fuzz`) and runs each for a bounded time, a few at once.
# New inputs collect in build/fuzz/corpus/<target>; the seeds in tests/fuzz/corpus stay as they are. A
# finding stops the run with the input under build/fuzz/findings/.
# Usage: run-fuzz.sh [seconds per target] [targets at once]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
parallel=${2:-2}
build=build/fuzz
targets=(header layout settings base64 certificate)

cmake --preset fuzz >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/qb_fuzz_}"
mkdir -p "$build/findings" "$build/logs"

run_one() {
  local name=$1 seconds=$2 build=$3
  mkdir -p "$build/corpus/$name"
  if "$build/tests/fuzz/qb_fuzz_$name" "$build/corpus/$name" "tests/fuzz/corpus/$name" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/findings/$name-" >"$build/logs/$name.log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/logs/$name.log")
    echo "fuzz $name: ${runs:-?} executions in ${seconds} s, no finding"
  else
    echo "fuzz $name: FINDING, see $build/logs/$name.log and $build/findings/"
    tail -n 40 "$build/logs/$name.log"
    return 1
  fi
}
export -f run_one
printf '%s\n' "${targets[@]}" | xargs -P "$parallel" -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$build"
