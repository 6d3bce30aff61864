#!/usr/bin/env bash
# Runs one Windows program in the project's prefix: wine-run.sh BUILD_DIR PROG [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh" "$1"
shift
if [ -n "${TZR_WORKDIR:-}" ]; then mkdir -p "$TZR_WORKDIR" && cd "$TZR_WORKDIR"; fi
exec "$WINE" "$@"
