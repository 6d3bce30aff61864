#!/usr/bin/env bash
# start: a persistent wineserver for the prefix, so each Windows process of a
# test run starts in milliseconds; stop: ends it. Output goes to /dev/null, or
# the server would hold the caller's pipe open.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh" "$2"
case "$1" in
  start) "$here/wine-prefix.sh" "$2"; "$WINESERVER" -p </dev/null >/dev/null 2>&1 ;;
  stop)  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true ;;
  *) echo "usage: $0 start|stop BUILD_DIR" >&2; exit 2 ;;
esac
