#!/usr/bin/env bash
# The rollout example of the README, checked: the Ansible playbook passes
# Ansible's syntax check (Debian's ansible package is installed when
# missing); the detection script, run by Wine's cmd.exe, says "not
# installed" for the demo firmware package before its installation and
# "installed" after it; and the host's --json object (and its --result
# file) parses as JSON on success, on a rerun, on a failure and on a bad
# command line, a name outside the Basic Multilingual Plane intact.
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
ansible-playbook --syntax-check -i "$root/examples/ansible/inventory.ini" "$root/examples/ansible/rollout.yml"

work="$WINEPREFIX/drive_c/tzr-tests/deploy_example"
work_win='C:\tzr-tests\deploy_example'
rm -rf "$work"
mkdir -p "$work"
assemble_firmware_package "$root" "$build" "$work/fw"
add_simulator "$root" "$build" "$work/fw"
cp "$build/tools/host/tzrhost.exe" "$root/examples/ansible/detect.cmd" "$work/"

host() { "$WINE" "$work/tzrhost.exe" "$@"; }
detect() { "$WINE" cmd /c "$work_win\\detect.cmd" "$work_win\\fw" | tr -d '\r'; }
# check JSON_FILE EXIT_OF_WINE PYTHON_CONDITION: the object parses, carries
# the schema version, its exit code is the one Wine passed on (the low
# byte), and the condition holds for it (as o).
check() {
  python3 - "$@" <<'PY'
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
  host --json "$@" >"$work/$name.json" && code=0 || code=$?
}

[ -z "$(detect)" ] || { echo "detection before the installation: $(detect)"; exit 1; }

run install --install --result "$work_win\\result.json" "$work_win\\fw"
check "$work/install.json" $code 'o["exit"] == 3010 and o["restart_needed"] and o["install"]["called"] and o["install_state"]["code"] == 2 and o["plugin_version"] == o["host_version"]'
cmp "$work/install.json" "$work/result.json"
[ ! -e "$work/result.json.tmp" ]

[ "$(detect)" = "installed" ] || { echo "detection after the installation: $(detect)"; exit 1; }

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

rm -rf "$work"
echo "deploy example: syntax check, detection, JSON objects all as expected"
