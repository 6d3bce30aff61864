#!/usr/bin/env bash
# A plug-in (setup.dll, framework_setup.dll) must run on a bare server: its
# import table may name Windows system DLLs only (no libgcc, libstdc++ or
# winpthread), and not setupapi.dll, newdev.dll or version.dll, which the
# plug-in loads on first use from the system folder so that the loader never
# takes them from the package folder it runs in. It must export the three
# entry points by their plain names and carry a version resource of its own
# (a file description, its own file name). Its debug information is not in
# the image but in the PDB beside it, which its CodeView record names by file
# name alone (check-pdb.sh matches the two).
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
# The PDB the CodeView record names: NAME.pdb (the image's name without its
# extension, as the linker wrote it), no folder, there beside the image.
pdb=$(llvm-readobj-16 --coff-debug-directory "$dll" 2>/dev/null | sed -n 's/^ *PDBFileName: //p')
if [ "$pdb" != "${name%.*}.pdb" ] || [ ! -f "$(dirname "$dll")/$pdb" ]; then
  echo "$name's CodeView record names \"$pdb\", not a ${name%.*}.pdb beside it"
  status=1
fi
[ $status -eq 0 ] && echo "$name: system imports only, ${#exports[@]} named exports, version resource \"$description\", no debug information but $pdb"
exit $status
