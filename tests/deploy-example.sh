#!/usr/bin/env bash
# The rollout example of the README, checked: the Ansible playbook passes
# Ansible's syntax check (Debian's ansible package is installed when
# missing); the detection script's cmd.exe twin, run by Wine's cmd.exe, says
# nothing for the demo firmware package before its installation and
# "Installed" after it, from the install record alone; the requirement
# script's twin says "Applicable" where a supported controller is; and
# standard output of the host's --json is exactly one object that the schema
# (tools/host/tzrhost-result.schema.json) accepts, as is its --result file,
# on success, a rerun, failures, a bad command line, --help and --version, a
# plug-in that prints or crashes, a partial write, a name outside the Basic
# Multilingual Plane intact.
# Usage: deploy-example.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
root=$(cd "${1:?source folder}" && pwd)
build=$(cd "${2:?build folder}" && pwd)
. "$root/scripts/wine-env.sh" "$build"
. "$root/demo/packages.sh"

if ! command -v ansible-playbook >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends ansible >/dev/null
fi
/usr/bin/ansible-playbook --syntax-check -i "$root/examples/ansible/inventory.ini" "$root/examples/ansible/rollout.yml"

work="$WINEPREFIX/drive_c/tzr-tests/deploy_example"
work_win='C:\tzr-tests\deploy_example'
rm -rf "$work"
mkdir -p "$work"
assemble_firmware_package "$root" "$build" "$work/fw"
add_simulator "$root" "$build" "$work/fw"
cp "$build/tools/host/tzrhost.exe" "$root/examples/detection/detect.cmd" "$root/examples/detection/requirement.cmd" "$work/"
record_key='HKLM\SOFTWARE\TZR\NVMeBootController\Packages\Veyra KB118m Boot Controller Firmware'
"$WINE" reg delete "$record_key" /f >/dev/null 2>&1 || true

host() { "$WINE" "$work/tzrhost.exe" "$@"; }
# The record alone: no host, no package where detection runs.
detect() { "$WINE" cmd /c "$work_win\\detect.cmd" "$work_win\\nowhere" "$work_win\\nohost.exe" | tr -d '\r'; }
requirement() { "$WINE" cmd /c "$work_win\\requirement.cmd" "$1" "$work_win\\tzrhost.exe" | tr -d '\r'; }
# check JSON_FILE EXIT_OF_WINE PYTHON_CONDITION: the file is one object the
# schema accepts, its exit code is the one Wine passed on (the low byte), and
# the condition holds for it (as o).
check() {
  /usr/bin/python3 "$root/tests/validate-json.py" "$root/tools/host/tzrhost-result.schema.json" "$1"
  /usr/bin/python3 - "$@" <<'PY'
import json, sys
path, shell_exit, condition = sys.argv[1], int(sys.argv[2]), sys.argv[3]
with open(path, encoding="utf-8") as f:
    o = json.load(f)
assert o["schema_version"] == 1, o
assert o["exit"] & 0xFF == shell_exit, (o["exit"], shell_exit)
assert eval(condition), (condition, o)
PY
}
run() { # run NAME ARGS...: the host's --json output into NAME.json, its exit code into $code
  local name=$1; shift
  host --json "$@" >"$work/$name.json" 2>"$work/$name.err" && code=0 || code=$?
}

[ -z "$(detect)" ] || { echo "detection before the installation: $(detect)"; exit 1; }

run install --install --result "$work_win\\result.json" "$work_win\\fw"
check "$work/install.json" $code 'o["exit"] == 3010 and o["restart_needed"] and o["install"]["called"] and o["install_state"]["code"] == 2 and o["plugin_version"] == o["host_version"]'
cmp "$work/install.json" "$work/result.json"
[ ! -e "$work/result.json.tmp" ]

[ "$(detect)" = "Installed" ] || { echo "detection after the installation: $(detect)"; exit 1; }
[ "$(requirement "$work_win\\fw")" = "Applicable" ] || { echo "requirement: $(requirement "$work_win\\fw")"; exit 1; }

run rerun --install --result "$work_win\\result.json" "$work_win\\fw"
check "$work/rerun.json" $code 'o["exit"] == 0 and not o["install"]["called"] and o["install_state"]["code"] == 1'
cmp "$work/rerun.json" "$work/result.json"

mkdir -p "$work/empty"
run no_plugin --install "$work_win\\empty"
check "$work/no_plugin.json" $code 'o["exit"] == 1619 and "cannot load" in o["error"] and o["install"] is None'

run bad_line --isntall "$work_win\\fw"
check "$work/bad_line.json" $code 'o["exit"] == 1639 and o["error"] == "unknown option --isntall"'

# U+1F600 in the package's English name.
cp -r "$work/fw" "$work/smile"
sed -i 's|Firmware</name_xlate>|Firmware \xF0\x9F\x98\x80</name_xlate>|' "$work/smile/kx012345.xml"
run smile --property 1 "$work_win\\smile"
check "$work/smile.json" $code 'o["properties"][0]["text"].endswith("Firmware \U0001F600")'

run help --help
check "$work/help.json" $code 'o["exit"] == 0 and o["help"].startswith("usage: tzrhost.exe")'
run version --version
check "$work/version.json" $code 'o["exit"] == 0 and "-dev+g" in o["host_version"] or "." in o["host_version"]'

# A plug-in that prints to standard output, one that crashes.
mkdir -p "$work/noisy"
cp "$build/tests/e2e/test_plugin.dll" "$work/noisy/setup.dll"
TZR_TEST_PLUGIN=stdout WINEDEBUG=-all run noisy "$work_win\\noisy"
check "$work/noisy.json" $code 'o["exit"] == 0 and o["interface"]["version"] == 100'
grep -q "plug-in noise through the C runtime" "$work/noisy.err"
grep -q "plug-in noise through the handle" "$work/noisy.err"
TZR_TEST_PLUGIN=crash run crash --result "$work_win\\crash-result.json" "$work_win\\noisy"
check "$work/crash.json" $code 'o["exit"] == 1603 and o["error"] == "the plug-in crashed: exception code 0xC0000005"'
cmp "$work/crash.json" "$work/crash-result.json"

# A partial write: the first controller written, the second failed.
cp -r "$work/fw" "$work/partial"
printf 'image_version=2.4.10\n1.svid=0x1590\n1.sdid=0x2f6\n1.fw=2.4.9\n2.svid=0x1590\n2.sdid=0x310\n2.fw=1.10\n2.flash=fail\n' \
  >"$work/partial/mnv_sim.ini"
run partial --install "$work_win\\partial"
check "$work/partial.json" $code 'o["exit"] == 1603 and o["restart_needed"] and [c["outcome"] for c in o["controllers"]] == ["written", "failed"] and o["controllers"][0]["firmware_after"] == "2.4.10" and o["controllers"][1]["tool_said"]'
[ -z "$(requirement "$work_win\\noisy")" ] || { echo "requirement of a package that answers no state"; exit 1; }

# A result file that cannot be written: no older file left, exit 1622.
run no_folder --install --result "$work_win\\missing\\result.json" "$work_win\\fw"
check "$work/no_folder.json" $code 'o["exit"] == 1622 and o["install"] is None and "result.json" in o["error"]'

"$WINE" reg delete "$record_key" /f >/dev/null 2>&1 || true
rm -rf "$work"
echo "deploy example: syntax check, detection, JSON objects all as expected"
