#!/usr/bin/env bash
# Runs every test of a build tree. Services that tests need are started here.
set -euo pipefail
build=${1:?build folder}
rm -rf "$build/test-home"
mkdir -p "$build/test-home"
exec ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300
