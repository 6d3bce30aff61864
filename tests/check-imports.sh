#!/usr/bin/env bash
# setup.dll must run on a bare server: its import table may name Windows
# system DLLs only (no libgcc, libstdc++ or winpthread), it must export the
# three entry points by their plain names, and it must carry a version
# resource. It ships stripped: its debug information is in the file its
# debug link names, beside it.
set -euo pipefail
dll=${1:?setup.dll}
dump=$(x86_64-w64-mingw32-objdump -p "$dll")

allowed='^(kernel32|msvcrt|advapi32|ole32|oleaut32|setupapi|newdev|version|shell32|user32|shlwapi|cfgmgr32|ntdll|rpcrt4)\.dll$'
status=0
while read -r name; do
  lower=$(echo "$name" | tr 'A-Z' 'a-z')
  if ! [[ $lower =~ $allowed ]]; then
    echo "setup.dll imports a non-system DLL: $name"
    status=1
  fi
done < <(echo "$dump" | sed -n 's/^\s*DLL Name: //p')

for export in GetInterfaceVersion GetProperty Install; do
  if ! grep -Eq "^\s*\[\s*[0-9]+\] $export\$" <<<"$dump"; then
    echo "setup.dll does not export $export by name"
    status=1
  fi
done

sections=$(x86_64-w64-mingw32-objdump -h "$dll")
if ! grep -q '\.rsrc' <<<"$sections"; then
  echo "setup.dll has no resource section (version information)"
  status=1
fi
if grep -q '\.debug_' <<<"$sections"; then
  echo "setup.dll carries debug information"
  status=1
fi
# The link's name as the dump's text column shows it (NUL as ".").
link=$(x86_64-w64-mingw32-objdump -s -j .gnu_debuglink "$dll" 2>/dev/null | sed -n 's/^ [0-9a-f]\{8,\} .*  //p' | tr -d '\n')
if [[ $link != "$(basename "$dll").debug."* ]] || ! grep -q '\.debug_info' \
     <<<"$(x86_64-w64-mingw32-objdump -h "$(dirname "$dll")/$(basename "$dll").debug" 2>/dev/null)"; then
  echo "setup.dll has no debug link to a $(basename "$dll").debug beside it"
  status=1
fi
[ $status -eq 0 ] && echo "setup.dll: system imports only, three named exports, version resource, stripped with a debug link"
exit $status
