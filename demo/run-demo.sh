#!/usr/bin/env bash
# Assembles the demo package on drive C: of the project's Wine prefix and runs
# the command-line host on it the way an installer host would.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
. "$root/scripts/wine-env.sh" "$build"
. "$root/demo/packages.sh"

"$root/scripts/wineserver.sh" start "$build"
trap '"$root/scripts/wineserver.sh" stop "$build"' EXIT

drive_c="$WINEPREFIX/drive_c"
pkg="$drive_c/tzr-demo"
logs="$drive_c/tzrsystem/log"
rm -rf "$pkg"
mkdir -p "$pkg" "$logs"
rm -f "$logs"/tzrsetup.log "$logs"/tzrsetup.verbose.log "$logs"/Verbose.log
assemble_firmware_package "$root" "$build" "$pkg"
# The simulated vendor tool answers as mnv_cli.exe from the package folder.
add_simulator "$root" "$build" "$pkg"

host() {
  echo
  echo "\$ tzrhost.exe C:\\tzr-demo $*"
  local code=0
  "$WINE" "$build/tools/host/tzrhost.exe" 'C:\tzr-demo' "$@" || code=$?
  # A Linux shell sees only the low byte of a Windows exit code: 3010 -> 194.
  [ $code -eq 194 ] && echo "(tzrhost exit code 3010: installed, restart needed)"
  [ $code -ne 0 ] && [ $code -ne 194 ] && echo "(tzrhost exit code $code)"
  return 0
}

section() { printf '\n== %s ==\n' "$1"; }

section "Package C:\\tzr-demo"
ls -l "$pkg"

section "Simulated controllers (mnv_sim.ini)"
grep -v '^#' "$pkg/mnv_sim.ini"

section "Properties and installation, as the installer host asks them"
host /verbose_log --install

section "The tool's command lines"
tr -d '\r' < "$pkg/mnv_sim.calls.log"

section "A rerun, as a deployment engine's schedule makes one: nothing to flash"
host --install --property 5

section "Discovery run (-d): a report instead of flashing"
rm -f "$pkg/mnv_sim.calls.log"
# The report goes beside the logs, not into the package folder: the engine
# takes the first .xml file there as the package definition, and a report
# left in it would answer for the package in every later run.
rm -f "$drive_c/tzrsystem/discovery.xml"
# The install-state query writes the report; no Install is needed.
host --property 5 -d 'C:\tzrsystem\discovery.xml'
section "Discovery report C:\\tzrsystem\\discovery.xml"
tr -d '\r' < "$drive_c/tzrsystem/discovery.xml"

section "Component log C:\\tzrsystem\\log\\tzrsetup.log"
[ -f "$logs/tzrsetup.log" ] && tr -d '\r' < "$logs/tzrsetup.log" || echo "(none)"
section "Verbose component log C:\\tzrsystem\\log\\tzrsetup.verbose.log"
[ -f "$logs/tzrsetup.verbose.log" ] && tr -d '\r' < "$logs/tzrsetup.verbose.log" || echo "(none)"
section "Process log C:\\tzrsystem\\log\\Verbose.log"
[ -f "$logs/Verbose.log" ] && tr -d '\r' < "$logs/Verbose.log" || echo "(none)"

# The framework's road: a driver package that the framework's own plug-in
# installs with no product code at all, from its install.xml and INF.
drv="$drive_c/tzr-demo-driver"
rm -rf "$drv"
mkdir -p "$drv"
assemble_driver_package "$root" "$build" "$drv"
rm -f "$logs"/tzrsetup.log "$logs"/tzrsetup.verbose.log
# What an earlier demo run installed goes first, so this one starts clean.
remove_demo_driver

host_driver() {
  echo
  echo "\$ tzrhost.exe C:\\tzr-demo-driver $*"
  local code=0
  "$WINE" "$build/tools/host/tzrhost.exe" 'C:\tzr-demo-driver' "$@" || code=$?
  [ $code -ne 0 ] && echo "(tzrhost exit code $code)"
  return 0
}

section "The framework's road: driver package C:\\tzr-demo-driver (framework_setup.dll as setup.dll)"
ls -l "$drv"
section "install.xml"
tr -d '\r' < "$drv/install.xml"
section "Install state before, then the installation"
host_driver --property 5
host_driver /verbose_log --install
section "Install state after"
echo "A legacy or virtual driver with a service never counts as installed, so after this"
echo "successful installation the install state still says \"not installed\" (code 5)."
host_driver --property 5
section "The service it left"
"$WINE" sc query TzrDemoDriver | tr -d '\r'
"$WINE" reg query 'HKLM\System\CurrentControlSet\Services\TzrDemoDriver' | tr -d '\r'
section "The files and registry value it left"
ls -l "$drive_c/windows/system32/drivers/tzrdemo.sys"
"$WINE" reg query 'HKLM\Software\TzrDemoDriver' | tr -d '\r'
section "Component log C:\\tzrsystem\\log\\tzrsetup.log"
[ -f "$logs/tzrsetup.log" ] && tr -d '\r' < "$logs/tzrsetup.log" || echo "(none)"
section "Verbose component log C:\\tzrsystem\\log\\tzrsetup.verbose.log (the installation run)"
[ -f "$logs/tzrsetup.verbose.log" ] && tr -d '\r' < "$logs/tzrsetup.verbose.log" || echo "(none)"
section "Removing the demo driver again"
remove_demo_driver
echo "service, file and registry value removed"
