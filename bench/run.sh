#!/bin/sh
# Builds the transfer benchmark in a release build folder and runs it. Arguments go to the benchmark, for
# example a quick run: bench/run.sh --big-mib 64 --small-count 1000
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QB_BENCH_BUILD:-$root/build/bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQB_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_transfer -j"${QB_BENCH_JOBS:-2}"
exec "$build/bench/bench_transfer" "$@"
