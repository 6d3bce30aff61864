#!/usr/bin/env bash
# start: a persistent wineserver for the prefix, so each Windows process of a
# test run starts in milliseconds; stop: ends it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh" "$2"
case "$1" in
  start)
    "$here/wine-prefix.sh" "$2"
    # A server already running for this prefix (an earlier run that was
    # interrupted) serves as well.
    "$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
    # Wine's own background processes (services, explorer, device manager)
    # start with the first program and live as long as the server. Start them
    # here, detached from the caller's output, or a test runner waiting for
    # the end of a test's output would wait for the server too.
    "$WINE" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
    ;;
  stop)  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true ;;
  *) echo "usage: $0 start|stop BUILD_DIR" >&2; exit 2 ;;
esac
