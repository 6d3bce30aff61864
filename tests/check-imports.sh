#!/usr/bin/env bash
# setup.dll must run on a bare server: its import table may name Windows
# system DLLs only (no libgcc, libstdc++ or winpthread), it must export the
# three entry points by their plain names, and it must carry a version
# resource.
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

if ! grep -q '\.rsrc' <<<"$(x86_64-w64-mingw32-objdump -h "$dll")"; then
  echo "setup.dll has no resource section (version information)"
  status=1
fi
[ $status -eq 0 ] && echo "setup.dll: system imports only, three named exports, version resource"
exit $status
