#!/usr/bin/env bash
# The rollout example run for real by ansible-playbook, on localhost against
# stand-ins of the ansible.windows modules (tests/ansible/collections), with
# no Windows and no network. The stand-ins answer with tzrhost --json objects
# recorded here from the real host under Wine, and report exit codes as the
# real win_command does (unsigned). Five servers: 3010 then a restart, 1618
# then success, no hardware, already installed, and a 1603 server (last, so
# the rollout stops after it) whose result file is still fetched; then
# --check, which installs nothing; then the README's own ansible-playbook
# line in a folder laid out as the release.
# Usage: ansible-rollout.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
root=$(cd "${1:?source folder}" && pwd)
build=$(cd "${2:?build folder}" && pwd)
. "$root/scripts/wine-env.sh" "$build"
. "$root/demo/packages.sh"
python=/usr/bin/python3
work="$WINEPREFIX/drive_c/tzr-tests/ansible_rollout"
work_win='C:\tzr-tests\ansible_rollout'
rm -rf "$work"
mkdir -p "$work/objects"
# The recordings' installations leave the install record: it goes too.
trap '"$WINE" reg delete "HKLM\\SOFTWARE\\TZR\\NVMeBootController\\Packages" /f >/dev/null 2>&1; rm -rf "$work"' EXIT

# Recorded answers of the host: NAME SCENARIO (the simulator's controllers).
record() {
  local name=$1 scenario=$2
  rm -rf "$work/pkg_$name"
  assemble_firmware_package "$root" "$build" "$work/pkg_$name"
  add_simulator "$root" "$build" "$work/pkg_$name"
  printf 'image_version=2.4.10\n%b' "$scenario" >"$work/pkg_$name/mnv_sim.ini"
  "$WINE" "$build/tools/host/tzrhost.exe" --install --json "$work_win\\pkg_$name" >"$work/objects/$name.json" 2>/dev/null || true
}
record upgrade '1.svid=0x1590\n1.sdid=0x2f6\n1.fw=2.4.9\n'
record same '1.svid=0x1590\n1.sdid=0x2f6\n1.fw=2.4.10\n'
record none 'count=0\n'
record fail '1.svid=0x1590\n1.sdid=0x2f6\n1.fw=2.4.9\n1.flash=fail\n'
"$python" "$root/tests/validate-json.py" "$root/tools/host/tzrhost-result.schema.json" "$work"/objects/*.json

# One folder per server, its answers in it: [exit code, object] per call.
"$python" - "$work" <<'PY'
import json, os, sys
work = sys.argv[1]
o = {n: json.load(open(f"{work}/objects/{n}.json")) for n in ("upgrade", "same", "none", "fail")}
assert [o[n]["exit"] for n in ("upgrade", "same", "none", "fail")] == [3010, 0, -2145124329, 1603], o
# Another installation running: the engine's busy line as Install's answer
# (the machine's lock is not made here).
busy = json.loads(json.dumps(o["fail"]))
busy.update(exit=1618, exit_meaning="another installation is running: retry later")
busy["install"]["message"] = "Another firmware installation is running on this machine.\r\n"
servers = {"reboot": [o["upgrade"]], "busy": [busy, o["upgrade"]], "nohw": [o["none"]],
           "installed": [o["same"]], "broken": [o["fail"]]}
for name, answers in servers.items():
    for mode in ("run", "check"):
        os.makedirs(f"{work}/{mode}/{name}")
        chosen = answers if mode == "run" else [o["same"]]
        json.dump([[a["exit"], a] for a in chosen], open(f"{work}/{mode}/{name}/answers.json", "w"))
PY
cp -r "$work/pkg_same" "$work/package"
export ANSIBLE_COLLECTIONS_PATH="$root/tests/ansible/collections" ANSIBLE_STDOUT_CALLBACK=json
export ANSIBLE_LOCALHOST_WARNING=false ANSIBLE_INVENTORY_UNPARSED_WARNING=false ANSIBLE_NOCOLOR=1
inventory() { # inventory MODE: the five servers on localhost, each with its folder
  echo "[tzr_servers]"
  for name in reboot busy nohw installed broken; do
    echo "$name ansible_connection=local ansible_python_interpreter=$python tzr_remote_root=$work/$1/$name/"
  done
}
# Relative paths from the working folder, the host from the build.
play() { # play MODE [ARGS...]
  local mode=$1; shift
  inventory "$mode" >"$work/$mode.ini"
  (cd "$work" && /usr/bin/ansible-playbook -i "$mode.ini" "$root/examples/ansible/rollout.yml" \
     -e package_source=package -e results="results_$mode" -e host_source="$build/tools/host/tzrhost.exe" \
     -e retry_delay=0 "$@") >"$work/$mode.out" 2>"$work/$mode.err"
}
play run && run_code=0 || run_code=$?
play check --check && check_code=0 || check_code=$?

"$python" - "$work" "$run_code" "$check_code" <<'PY'
import json, os, sys
work, run_code, check_code = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])

def tasks(mode):
    out = json.load(open(f"{work}/{mode}.out"))
    seen = {}
    for play in out["plays"]:
        for task in play["tasks"]:
            for host, r in task["hosts"].items():
                seen.setdefault(host, {})[task["task"]["name"]] = r
    return seen

run = tasks("run")
assert run_code == 2, ("the failed server fails the run", run_code, open(f"{work}/run.err").read())
install, reboot = "Install where the install state calls for it", "Restart where the installation needs it"
assert not run["reboot"][install].get("failed") and run["reboot"][install]["rc"] == 3010
assert run["reboot"][reboot].get("rebooted") is True
assert run["busy"][install]["attempts"] == 2 and run["busy"][install]["rc"] == 3010, run["busy"][install]
assert run["busy"][reboot].get("rebooted") is True
assert run["nohw"][install]["rc"] == 2149842967 and not run["nohw"][install].get("failed"), run["nohw"][install]
assert run["nohw"][reboot].get("skipped") and run["installed"][reboot].get("skipped")
assert not run["installed"][install].get("changed"), run["installed"][install]
assert run["broken"][install].get("failed") and run["broken"][install]["rc"] == 1603
for name, code in (("reboot", 3010), ("busy", 3010), ("nohw", -2145124329), ("installed", 0), ("broken", 1603)):
    fetched = json.load(open(f"{work}/results_run/{name}.json"))
    assert fetched["exit"] == code, (name, fetched["exit"])

check = tasks("check")
assert check_code == 0, open(f"{work}/check.err").read()
for name in ("reboot", "busy", "nohw", "installed", "broken"):
    calls = open(f"{work}/check/{name}/calls.log").read().splitlines()
    assert len(calls) == 1 and "--property 5" in calls[0] and "--install" not in calls[0], calls
    assert check[name]["Show the install state (dry run)"]["msg"]["code"] == 1
assert not os.path.exists(f"{work}/results_check")
PY

# The README's line, as written, in a folder laid out as the release, with
# the servers of its inventory made local.
line=$(grep -m1 '^ansible-playbook ' "$root/README.md")
release="$work/release"
mkdir -p "$release/examples" "$release/srv"
cp "$build/tools/host/tzrhost.exe" "$release/"
cp -r "$root/examples/ansible" "$release/examples/"
cp -r "$work/pkg_same" "$release/examples/firmware-package"
cp "$work/check/installed/answers.json" "$release/srv/"
(cd "$release" && eval "/usr/bin/$line -e ansible_connection=local -e ansible_python_interpreter=$python" \
   "-e tzr_remote_root=$release/srv/" >"$work/readme.out" 2>&1) || { cat "$work/readme.out"; echo "README line failed: $line"; exit 1; }
for server in server01.example.com server02.example.com; do
  [ -f "$release/results/$server.json" ] || { echo "README line fetched no result for $server"; exit 1; }
done
echo "ansible rollout: five servers, --check and the README's line as expected"
