#!/usr/bin/env bash
# Runs the install-state benchmark under Wine: run-flash-bench.sh BUILD_DIR [REPETITIONS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
. "$root/scripts/wine-env.sh" "$build"
# A server already running for this prefix (a test run, a demo) is used as
# it is and left running.
if "$root/scripts/wineserver.sh" start "$build"; then
  trap '"$root/scripts/wineserver.sh" stop "$build"' EXIT
fi
export TZR_BUILD_DIR="$build"
"$WINE" "$build/tools/bench/flash_bench.exe" "${2:-5}"
