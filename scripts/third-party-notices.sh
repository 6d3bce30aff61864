#!/usr/bin/env bash
# Prints THIRD-PARTY-NOTICES.txt: the licence of every third-party piece
# linked into the shipped binaries, taken from the copies the build used, so
# the text follows when a version changes: expat's COPYING from the source
# folder the build compiled, and the Debian copyright files of the packages
# that hold the runtime libraries the link pulls in statically (the GCC
# runtime, libstdc++ and libgcc with its unwinder, under the GCC Runtime
# Library Exception; the MinGW-w64 C runtime start-up with gdtoa, and
# winpthread). Which parts those are, third-party-parts.sh says, for the SBOM
# too.
# Usage: third-party-notices.sh EXPAT_SOURCE_DIR RUNTIME_GCC
set -euo pipefail
parts=$(bash "$(dirname "$0")/third-party-parts.sh" "$@")

rule() { printf '%s\n' "==============================================================================="; }
cat <<HEAD
Third-party notices
===================

setup.dll, framework_setup.dll and tzrhost.exe carry, linked in statically,
the third-party code below. Each part gives the licence text that comes with
the copy that was built.

HEAD
# Parts from one Debian source share one copyright file: each text once,
# headed by every package and library it covers.
declare -A header_of=() file_of=()
order=()
while IFS='|' read -r part version package libraries licence copyright upstream; do
  if [ "$part" = expat ]; then
    header="expat $version (Debian source package), the XML parser in both plug-ins"
  else
    header="$package $version (Debian package), $part: $libraries"
  fi
  sum=$(sha256sum < "$copyright" | cut -d' ' -f1)
  [ -n "${header_of[$sum]:-}" ] || order+=("$sum")
  header_of[$sum]+="$header"$'\n'
  file_of[$sum]=$copyright
done <<<"$parts"
for sum in "${order[@]}"; do
  rule
  printf '%s' "${header_of[$sum]}"
  rule
  echo
  cat "${file_of[$sum]}"
  echo
done
