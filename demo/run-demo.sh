#!/usr/bin/env bash
# Assembles the demo package on drive C: of the project's Wine prefix and runs
# the command-line host on it the way an installer host would.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
. "$root/scripts/wine-env.sh" "$build"

"$root/scripts/wineserver.sh" start "$build"
trap '"$root/scripts/wineserver.sh" stop "$build"' EXIT

drive_c="$WINEPREFIX/drive_c"
pkg="$drive_c/tzr-demo"
logs="$drive_c/tzrsystem/log"
rm -rf "$pkg"
mkdir -p "$pkg" "$logs"
rm -f "$logs"/tzrsetup.log "$logs"/tzrsetup.verbose.log "$logs"/Verbose.log
cp "$build/src/plugin/setup.dll" "$pkg/"
if [ -d "$root/demo/package" ]; then
  cp -r "$root/demo/package/." "$pkg/"
fi

host() {
  echo
  echo "\$ tzrhost.exe C:\\tzr-demo $*"
  "$WINE" "$build/tools/host/tzrhost.exe" 'C:\tzr-demo' "$@" || echo "(tzrhost exit code $?)"
}

section() { printf '\n== %s ==\n' "$1"; }

section "Package C:\\tzr-demo"
ls -l "$pkg"

section "Properties, as the installer host asks them"
host /verbose_log

section "Installation"
host /verbose_log --install

section "Component log C:\\tzrsystem\\log\\tzrsetup.log"
[ -f "$logs/tzrsetup.log" ] && tr -d '\r' < "$logs/tzrsetup.log" || echo "(none)"
section "Verbose component log C:\\tzrsystem\\log\\tzrsetup.verbose.log"
[ -f "$logs/tzrsetup.verbose.log" ] && tr -d '\r' < "$logs/tzrsetup.verbose.log" || echo "(none)"
section "Process log C:\\tzrsystem\\log\\Verbose.log"
[ -f "$logs/Verbose.log" ] && tr -d '\r' < "$logs/Verbose.log" || echo "(none)"
