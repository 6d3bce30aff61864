#!/usr/bin/env bash
# Runs every command line for the host that README.md shows, as written,
# against the demo packages, and fails when one of them fails, so that the
# README cannot drift from the product. Lines of ```sh blocks run in bash
# from the source folder, after the block's `. scripts/...` line that sets up
# Wine; lines of ```bat blocks that start with tzrhost.exe are what a Windows
# server runs, here through Wine, and so are the detection and requirement
# twins' lines and reg queries (through Wine's cmd.exe, beside copies of the
# twins and the host). The ansible-playbook line is run by ansible-rollout.sh. The one change: the package folders
# C:\tzr-demo and C:\tzr-demo-driver become copies of their own under
# C:\tzr-tests\, so the user's demo folders stay as they are.
# Usage: readme-commands.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
root=$(cd "${1:?source folder}" && pwd)
build=$(cd "${2:?build folder}" && pwd)
. "$root/scripts/wine-env.sh" "$build"
. "$root/demo/packages.sh"

# The README's view: scripts/ and the build as build/, whatever its name.
work=$(mktemp -d)
ln -s "$root/scripts" "$work/scripts"
ln -s "$build" "$work/build"
pkgs="$WINEPREFIX/drive_c/tzr-tests/readme_commands"
pkgs_win='C:\tzr-tests\readme_commands'
rm -rf "$pkgs"
assemble_firmware_package "$root" "$build" "$pkgs/tzr-demo"
add_simulator "$root" "$build" "$pkgs/tzr-demo"
assemble_driver_package "$root" "$build" "$pkgs/tzr-demo-driver"
remove_demo_driver
mkdir -p "$pkgs/bin"
cp "$root/examples/detection/detect.cmd" "$root/examples/detection/requirement.cmd" "$build/tools/host/tzrhost.exe" "$pkgs/bin/"
record_key='HKLM\SOFTWARE\TZR\NVMeBootController\Packages'
trap 'remove_demo_driver; "$WINE" reg delete "$record_key" /f >/dev/null 2>&1; rm -rf "$work"' EXIT

# One line per command: the block's language, a tab, the line.
# Blocks may be indented (inside a list item); so may their lines.
lines=$(awk '/^ *```/ { if (lang != "") lang = ""; else { lang = $0; sub(/^ *```/, "", lang); if (lang == "") lang = "text" }; next }
             lang != "" { line = $0; sub(/^ +/, "", line); print lang "\t" line }' "$root/README.md")
setup=""
count=0
failed=0
while IFS=$'\t' read -r lang line; do
  case "$lang" in
    sh)
      if [[ $line == ". scripts/"* ]]; then setup=$line; continue; fi
      [[ $line == *tzrhost.exe* ]] || continue
      run=${line//'C:\tzr-demo'/"$pkgs_win"'\tzr-demo'}
      # On lines of their own: a comment ends the README's line, not the run.
      out=$(cd "$work" && bash -c "$setup"$'\n'"$run" 2>&1) && code=0 || code=$?
      ;;
    bat)
      run=${line//'C:\tzr-demo'/"$pkgs_win"'\tzr-demo'}
      if [[ $line == "tzrhost.exe "* ]]; then
        read -ra args <<<"$run"
        out=$("$WINE" "$build/tools/host/tzrhost.exe" "${args[@]:1}" 2>&1) && code=0 || code=$?
      elif [[ $line == "detect.cmd "* || $line == "requirement.cmd "* || $line == "reg query "* ]]; then
        # As typed at a prompt: through a script, so that cmd.exe reads the quotes.
        printf '@%s\r\n' "$run" >"$pkgs/bin/line.cmd"
        out=$(cd "$pkgs/bin" && "$WINE" cmd /c line.cmd 2>&1) && code=0 || code=$?
        # The twins answer on standard output; an empty answer here is a fault.
        [ $code -ne 0 ] || [ -n "$(echo "$out" | tr -d '\r\n ')" ] || code=1
      else
        continue
      fi
      ;;
    *) continue ;;
  esac
  count=$((count + 1))
  # 3010 (installed, a restart is needed) reaches a Linux shell as 194.
  if [ $code -eq 0 ] || [ $code -eq 194 ]; then
    echo "ok (exit $code): $line"
  else
    echo "FAILED (exit $code): $line"
    echo "$out" | sed 's/^/    /'
    failed=$((failed + 1))
  fi
done <<<"$lines"

if [ $count -eq 0 ]; then
  echo "README.md shows no command line for the host"
  exit 1
fi
echo "$count command lines from README.md, $failed failed"
[ $failed -eq 0 ] && rm -rf "$pkgs"
[ $failed -eq 0 ]
