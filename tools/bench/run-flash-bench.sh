#!/usr/bin/env bash
# Runs the install-state benchmark under Wine: run-flash-bench.sh BUILD_DIR [REPETITIONS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
. "$root/scripts/wine-env.sh" "$build"
"$root/scripts/wineserver.sh" start "$build"
trap '"$root/scripts/wineserver.sh" stop "$build"' EXIT
export TZR_BUILD_DIR="$build"
"$WINE" "$build/tools/bench/flash_bench.exe" "${2:-5}"
