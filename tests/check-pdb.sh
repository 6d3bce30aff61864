#!/usr/bin/env bash
# A debugger finds a binary's symbols as WinDbg does: the image's CodeView
# record names the PDB and carries its GUID and age, which must be the PDB's;
# the PE header has a time stamp (a symbol store files the image under it and
# its size); and a function of ours, looked up by name in the PDB, gives a
# source file of ours and a line when its address is symbolized through the
# image and that PDB. And an exception thrown through an inline function of
# GCC's C++ runtime (std::string's _M_create, when new throws) finds that
# function's unwind table in the image (scripts/mend-unwind-tables.py).
# Usage: check-pdb.sh BINARY FUNCTION [BINARY FUNCTION]...
set -euo pipefail
status=0
fault() { echo "$name: $*"; status=1; }
runtime_function=_ZNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEE9_M_createERyy

# address_of SECTION OFFSET: the address in $binary of a PDB's SECTION:OFFSET.
address_of() {
  local base rva
  base=$(llvm-readobj-16 --file-headers "$binary" | sed -n 's/^ *ImageBase: //p')
  rva=$(llvm-readobj-16 --sections "$binary" | awk -v n="$1" '/Number:/ { i = $2 } i == n && /VirtualAddress:/ && !done { print $2; done = 1 }')
  printf '0x%x' $((base + rva + 10#$2))
}

while [ $# -ge 2 ]; do
  binary=$1 function=$2
  shift 2
  name=$(basename "$binary")
  record=$(llvm-readobj-16 --coff-debug-directory "$binary") || { fault "llvm-readobj cannot read its debug directory"; continue; }
  pdb=$(dirname "$binary")/$(sed -n 's/^ *PDBFileName: //p' <<<"$record")
  [ -f "$pdb" ] || { fault "no PDB $pdb beside it"; continue; }
  summary=$(llvm-pdbutil-16 dump -summary "$pdb") || { fault "llvm-pdbutil cannot read $pdb"; continue; }

  # The record's GUID is its 16 bytes in file order; the PDB's is printed as
  # a GUID, whose first three fields are little-endian numbers.
  read -r -a b <<<"$(sed -n 's/^ *PDBGUID: (\(.*\))$/\1/p' <<<"$record")"
  record_guid=${b[3]}${b[2]}${b[1]}${b[0]}-${b[5]}${b[4]}-${b[7]}${b[6]}-${b[8]}${b[9]}-${b[10]}${b[11]}${b[12]}${b[13]}${b[14]}${b[15]}
  pdb_guid=$(sed -n 's/^ *GUID: {\(.*\)}$/\1/p' <<<"$summary")
  [ ${#b[@]} -eq 16 ] && [ "$record_guid" = "$pdb_guid" ] ||
    fault "CodeView record's GUID $record_guid is not $(basename "$pdb")'s $pdb_guid"
  record_age=$(sed -n 's/^ *PDBAge: //p' <<<"$record")
  pdb_age=$(sed -n 's/^ *Age: //p' <<<"$summary")
  [ -n "$record_age" ] && [ "$record_age" = "$pdb_age" ] ||
    fault "CodeView record's age $record_age is not $(basename "$pdb")'s $pdb_age"
  stamp=$(llvm-readobj-16 --file-headers "$binary" | sed -n 's/^ *TimeDateStamp: .*(0x\([0-9A-Fa-f]*\))$/\1/p' | head -n 1)
  [ -n "$stamp" ] && [ $((16#$stamp)) -ne 0 ] || fault "its PE header has no time stamp"

  # The function's procedure record gives its section and offset; the
  # symbolizer turns section start + offset into a file and a line with the
  # image and its PDB, as a debugger does with a crash address.
  where=$(llvm-pdbutil-16 dump -symbols "$pdb" |
          awk -v f="$function" '!found && /S_[GL]PROC32/ && index($0, "`" f "`") { found = 1; getline; print }' |
          sed -n 's/.*addr = \([0-9]*\):\([0-9]*\),.*/\1 \2/p')
  [ -n "$where" ] || { fault "$(basename "$pdb") has no procedure $function"; continue; }
  address=$(address_of $where)
  lines=$(cd "$(dirname "$binary")" && llvm-symbolizer-16 --obj="$name" "$address")
  file_line=$(sed -n 2p <<<"$lines")
  if [ "$(sed -n 1p <<<"$lines")" != "$function" ] || ! [[ $file_line =~ ^/tzr_flash/(src|tools)/.*:[1-9][0-9]*:[0-9]+$ ]]; then
    fault "$function at $address symbolizes as \"$(tr '\n' ' ' <<<"$lines")\", not as ours with a line"
    continue
  fi
  where=$(llvm-pdbutil-16 dump -publics "$pdb" |
          awk -v f="$runtime_function" '!found && index($0, "`" f "`") { found = 1; getline; print }' |
          sed -n 's/.*addr = \([0-9]*\):\([0-9]*\).*/\1 \2/p')
  [ -n "$where" ] || { fault "$(basename "$pdb") has no public $runtime_function"; continue; }
  runtime_address=$(address_of $where)
  unwound=0
  while read -r start end; do
    if ((start <= runtime_address && runtime_address < end)); then unwound=1; break; fi
  done < <(llvm-readobj-16 --unwind "$binary" |
           sed -n 's/^ *\(Start\|End\)Address: .*(\(0x[0-9A-Fa-f]*\))$/\2/p' | paste - -)
  [ $unwound -eq 1 ] || { fault "$runtime_function at $runtime_address has no unwind table in the image"; continue; }
  echo "$name: CodeView record matches $(basename "$pdb") (GUID $pdb_guid, age $pdb_age), time stamp 0x$stamp; $function at $file_line; the runtime's inline functions unwind"
done
[ $# -eq 0 ] || { echo "usage: check-pdb.sh BINARY FUNCTION [BINARY FUNCTION]..."; exit 2; }
exit $status
