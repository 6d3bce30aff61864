#!/usr/bin/env bash
# Firmware that runs only after a restart, across a real restart of the
# prefix (the wineserver ended, then wineboot -r): before the restart a rerun
# writes nothing and still owes the restart (3010); after it the record of
# the waiting firmware is gone with the volatile key, the controller runs the
# new firmware, and the rerun has nothing to do (0).
# Usage: restart-test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
root=$(cd "${1:?source folder}" && pwd)
build=$(cd "${2:?build folder}" && pwd)
. "$root/scripts/wine-env.sh" "$build"

work="$WINEPREFIX/drive_c/tzr-tests/restart"
rm -rf "$work"
mkdir -p "$work/pkg"
cp "$build/src/plugin/setup.dll" "$work/pkg/"
cp "$build/tools/mnv-sim/mnv_sim.exe" "$work/pkg/mnv_cli.exe"
printf '<tzr_package><version value="2.4.10"/></tzr_package>' > "$work/pkg/kx012345.xml"
printf 'image' > "$work/pkg/fw.bin"
printf 'restart_effect=1\r\nimage_version=2.4.10\r\n1.svid=0x1590\r\n1.sdid=0x2f6\r\n1.fw=2.4.9\r\n' \
  > "$work/pkg/mnv_sim.ini"

# run NAME EXPECTED_EXIT: the host installs; its result file says the exit.
run() {
  "$WINE" "$build/tools/host/tzrhost.exe" 'C:\tzr-tests\restart\pkg' --install \
    --result "C:\\tzr-tests\\restart\\$1.json" >"$work/$1.out" 2>&1 || true
  tr -d '\r' <"$work/$1.json" | grep -q "\"exit\": $2[,}]" || {
    echo "$1: expected exit $2"; cat "$work/$1.out" "$work/$1.json"; exit 1; }
}
flashes() { grep -c ' flash ' "$work/pkg/mnv_sim.calls.log" || true; }

run first 3010
[ "$(flashes)" = 1 ] || { echo "first: $(flashes) flashes"; exit 1; }
run before_restart 3010
[ "$(flashes)" = 1 ] || { echo "before the restart: written again ($(flashes) flashes)"; exit 1; }
grep -q 'A restart is needed' "$work/before_restart.out" || { cat "$work/before_restart.out"; exit 1; }

"$WINESERVER" -k || true
"$WINE" wineboot -r >/dev/null 2>&1
"$WINESERVER" -w
# The rest of the run has its persistent server again.
"$root/scripts/wineserver.sh" start "$build"

run after_restart 0
[ "$(flashes)" = 1 ] || { echo "after the restart: $(flashes) flashes"; exit 1; }
tr -d '\r' <"$work/pkg/mnv_sim.ini" | grep -qx '1.fw=2.4.10' || { echo "the firmware did not take effect"; exit 1; }
if grep -q 'A restart is needed' "$work/after_restart.out"; then cat "$work/after_restart.out"; exit 1; fi
rm -rf "$work"
echo "restart: ok"
