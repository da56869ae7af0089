#!/usr/bin/env bash
# Runs every test of a build tree. Services that tests need are started here: the DNS-SD tests (label
# "sandbox") run one after another inside tests/support/sandbox.sh, which brings its own avahi-daemon.
set -euo pipefail
build=${1:?build folder}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$build/test-home"
mkdir -p "$build/test-home"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 300 -LE sandbox
status=0
"$here/sandbox.sh" ctest --test-dir "$build" --output-on-failure --timeout 300 -L sandbox || status=$?
if [ "$status" -eq 77 ]; then
  echo "DNS-SD tests SKIPPED (the reason is above)"
  exit 0
fi
exit "$status"
