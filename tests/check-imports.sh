#!/usr/bin/env bash
# A plug-in (setup.dll, framework_setup.dll) must run on a bare server: its
# import table may name Windows system DLLs only (no libgcc, libstdc++ or
# winpthread), and not setupapi.dll, newdev.dll or version.dll, which the
# plug-in loads on first use from the system folder so that the loader never
# takes them from the package folder it runs in. It must export the three
# entry points by their plain names and carry a version resource of its own
# (a file description, its own file name). It ships stripped: its debug
# information is in the file its debug link names, beside it.
# With --host, the host program (tzrhost.exe) is checked under the same rule,
# but exports nothing and may import version.dll and the other system DLLs a
# plug-in loads on first use: a host is started from a folder of its own.
set -euo pipefail
program=0
[ "${1:-}" = --host ] && { program=1; shift; }
dll=${1:?usage: check-imports.sh [--host] PLUGIN.dll}
name=$(basename "$dll")
dump=$(x86_64-w64-mingw32-objdump -p "$dll")

allowed='^(kernel32|msvcrt|advapi32|ole32|oleaut32|shell32|user32|shlwapi|cfgmgr32|ntdll|rpcrt4)\.dll$'
loaded_on_use='^(setupapi|newdev|version)\.dll$'
status=0
while read -r import; do
  lower=$(echo "$import" | tr 'A-Z' 'a-z')
  if [[ $lower =~ $loaded_on_use ]] && [ $program -eq 0 ]; then
    echo "$name imports $import, which it must load on first use from the system folder"
    status=1
  elif ! [[ $lower =~ $allowed ]] && ! [[ $lower =~ $loaded_on_use ]]; then
    echo "$name imports a non-system DLL: $import"
    status=1
  fi
done < <(echo "$dump" | sed -n 's/^\s*DLL Name: //p')

exports=(GetInterfaceVersion GetProperty Install)
[ $program -eq 1 ] && exports=()
for export in "${exports[@]}"; do
  if ! grep -Eq "^\s*\[\s*[0-9]+\] $export\$" <<<"$dump"; then
    echo "$name does not export $export by name"
    status=1
  fi
done

# The version resource as the resource compiler reads it back.
version=$(x86_64-w64-mingw32-windres -i "$dll" -O rc 2>/dev/null || true)
description=$(sed -n 's/^\s*VALUE "FileDescription", "\(.*\)"$/\1/p' <<<"$version")
original=$(sed -n 's/^\s*VALUE "OriginalFilename", "\(.*\)"$/\1/p' <<<"$version")
if [ -z "$description" ] || [ "$original" != "$name" ]; then
  echo "$name has no version resource of its own (file description, original file name $name)"
  status=1
fi

sections=$(x86_64-w64-mingw32-objdump -h "$dll")
if grep -q '\.debug_' <<<"$sections"; then
  echo "$name carries debug information"
  status=1
fi
# The link's name as the dump's text column shows it (NUL as "."); none when
# the section is missing, which the check below reports. A short last line's
# text column is padded with spaces, which go first.
link=$(x86_64-w64-mingw32-objdump -s -j .gnu_debuglink "$dll" 2>/dev/null | sed -n 's/ *$//; s/^ [0-9a-f]\{8,\} .*  //p' | tr -d '\n' || true)
if [[ $link != "$name.debug."* ]] || ! grep -q '\.debug_info' \
     <<<"$(x86_64-w64-mingw32-objdump -h "$(dirname "$dll")/$name.debug" 2>/dev/null)"; then
  echo "$name has no debug link to a $name.debug beside it"
  status=1
fi
[ $status -eq 0 ] && echo "$name: system imports only, ${#exports[@]} named exports, version resource \"$description\", stripped with a debug link"
exit $status
