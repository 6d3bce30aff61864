#!/usr/bin/env bash
# Prints THIRD-PARTY-NOTICES.txt: the licence of every third-party piece
# linked into the shipped binaries, taken from the copies the build used, so
# the text follows when a version changes: expat's COPYING from the source
# folder the build compiled, and the Debian copyright files of the packages
# that hold the runtime libraries the compiler links in statically (the GCC
# runtime, libstdc++ and libgcc, under the GCC Runtime Library Exception; the
# MinGW-w64 C runtime start-up and winpthread).
# Usage: third-party-notices.sh EXPAT_SOURCE_DIR CXX_COMPILER
set -euo pipefail
expat=${1:?expat source folder}
cxx=${2:?C++ compiler}
fail() { echo "third-party-notices: $*" >&2; exit 1; }
[ -f "$expat/COPYING" ] || fail "no COPYING in $expat"
changelog="$expat/../debian/changelog"
expat_version=$(dpkg-parsechangelog -l "$changelog" -S Version 2>/dev/null) || fail "cannot read $changelog"

rule() { printf '%s\n' "==============================================================================="; }
cat <<HEAD
Third-party notices
===================

setup.dll, framework_setup.dll and tzrhost.exe carry, linked in statically,
the third-party code below. Each part gives the licence text that comes with
the copy that was built.

HEAD
rule
echo "expat $expat_version (Debian source package), the XML parser in both plug-ins"
rule
echo
cat "$expat/COPYING"
echo

# The libraries a static link of ours pulls in, and the packages that hold them.
declare -A libraries_of=()
for library in libstdc++.a libgcc.a libgcc_eh.a libwinpthread.a libmingw32.a libmingwex.a libmsvcrt.a dllcrt2.o crt2.o; do
  path=$(readlink -f "$("$cxx" -print-file-name="$library")")
  [ -f "$path" ] || fail "$cxx links no $library"
  package=$(dpkg-query -S "$path" 2>/dev/null | head -n 1 | cut -d: -f1) || true
  [ -n "$package" ] || fail "no Debian package holds $path"
  libraries_of[$package]+=" $library"
done
# Packages built from one source share one copyright file: each text once,
# headed by every package and library it covers.
declare -A header_of=() file_of=()
for package in $(printf '%s\n' "${!libraries_of[@]}" | LC_ALL=C sort); do
  copyright=/usr/share/doc/$package/copyright
  [ -f "$copyright" ] || fail "$package has no $copyright"
  sum=$(sha256sum < "$copyright" | cut -d' ' -f1)
  header_of[$sum]+="$package $(dpkg-query -W -f='${Version}' "$package") (Debian package):${libraries_of[$package]}"$'\n'
  file_of[$sum]=$copyright
done
for sum in $(for s in "${!file_of[@]}"; do echo "${file_of[$s]} $s"; done | LC_ALL=C sort | cut -d' ' -f2); do
  rule
  printf '%s' "${header_of[$sum]}"
  rule
  echo
  cat "${file_of[$sum]}"
  echo
done
