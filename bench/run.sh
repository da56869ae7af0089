#!/bin/sh
# Builds the benchmark in its own release folder and runs it; the table goes to standard output and as JSON to
# build/bench/results.json. Sizes and rounds come from the environment (bench/README.md), e.g. a quick run:
#   QB_BENCH_ROUNDS=1 QB_BENCH_BIG_MIB=64 QB_BENCH_SMALL_COUNT=1000 QB_BENCH_MEMORY_MIB=0 make bench
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QB_BENCH_BUILD:-$root/build/bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQB_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_transfer -j"${QB_BENCH_JOBS:-2}"
QB_BENCH_RESULTS=${QB_BENCH_RESULTS:-$build/results.json} exec "$build/bench/bench_transfer"
