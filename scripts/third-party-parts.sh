#!/usr/bin/env bash
# Prints the third-party parts linked into the shipped binaries, one a line,
# fields separated by |, for THIRD-PARTY-NOTICES.txt (third-party-notices.sh)
# and the SBOM (sbom.py), so that both always name the same parts:
#   part|version|Debian package|libraries|SPDX licence|copyright file|upstream
# expat comes from the source folder the build compiled (its version from
# Debian's changelog there, its licence text COPYING); the runtime parts from
# the files a static link of ours pulls in, found where the link finds them,
# and the Debian packages that hold those files.
# Usage: third-party-parts.sh EXPAT_SOURCE_DIR RUNTIME_GCC
#   RUNTIME_GCC is the GCC driver whose library folder the toolchain links
#   (cmake/mingw-w64.cmake).
set -euo pipefail
expat=${1:?expat source folder}
gcc=${2:?GCC driver of the runtime}
fail() { echo "third-party-parts: $*" >&2; exit 1; }

[ -f "$expat/COPYING" ] || fail "no COPYING in $expat"
changelog="$expat/../debian/changelog"
expat_version=$(dpkg-parsechangelog -l "$changelog" -S Version 2>/dev/null) || fail "cannot read $changelog"
expat_upstream=$(sed -n 's/^Source: *//p' "$expat/../debian/copyright" 2>/dev/null | head -n 1)
[ -n "$expat_upstream" ] || fail "$expat/../debian/copyright names no Source"
printf '%s|%s|%s|%s|%s|%s|%s\n' expat "$expat_version" "expat (source)" "" MIT "$expat/COPYING" "$expat_upstream"

# Where the link looks: clang takes the start-up objects from mingw-w64's
# library folder and searches GCC's folder (-L, cmake/mingw-w64.cmake) first
# for libraries, then mingw-w64's. libstdc++.a is linked from the build's
# mended copy of GCC's (CMakeLists.txt), which is named here by the original.
gcc_dir=$(dirname "$("$gcc" -print-libgcc-file-name)")
mingw_dir=$(dirname "$(readlink -f "$("$gcc" -print-file-name=libmingw32.a)")")
[ -d "$gcc_dir" ] && [ -d "$mingw_dir" ] || fail "$gcc names no library folders"
find_file() {
  local folder
  case $1 in
    *.o) folders=("$mingw_dir") ;;
    *) folders=("$gcc_dir" "$mingw_dir") ;;
  esac
  for folder in "${folders[@]}"; do
    [ -f "$folder/$1" ] && { readlink -f "$folder/$1"; return; }
  done
  fail "the link finds no $1 in ${folders[*]}"
}

# part, the files of it the link pulls in (clang's MinGW link line), its
# licence as an SPDX expression (the texts are in the package's copyright
# file), its upstream.
gcc_licence="GPL-3.0-or-later WITH GCC-exception-3.1"
while IFS='|' read -r part files licence upstream; do
  package="" libraries=""
  for file in $files; do
    path=$(find_file "$file")
    owner=$(dpkg-query -S "$path" 2>/dev/null | head -n 1 | cut -d: -f1) || true
    [ -n "$owner" ] || fail "no Debian package holds $path"
    [ -z "$package" ] || [ "$package" = "$owner" ] || fail "$part lies in $package and $owner"
    package=$owner
    libraries+="${libraries:+ }$file"
  done
  copyright=/usr/share/doc/$package/copyright
  [ -f "$copyright" ] || fail "$package has no $copyright"
  printf '%s|%s|%s|%s|%s|%s|%s\n' "$part" "$(dpkg-query -W -f='${Version}' "$package")" "$package" \
    "$libraries" "$licence" "$copyright" "$upstream"
done <<PARTS
libstdc++|libstdc++.a|$gcc_licence|https://gcc.gnu.org/
libgcc|libgcc.a libgcc_eh.a|$gcc_licence|https://gcc.gnu.org/
mingw-w64-crt|crt2.o dllcrt2.o crtbegin.o crtend.o libmingw32.a libmingwex.a libmoldname.a libmsvcrt.a|ZPL-2.1 AND LicenseRef-gdtoa AND LicenseRef-public-domain|https://www.mingw-w64.org/
winpthreads|libpthread.a|MIT AND BSD-3-Clause AND LicenseRef-public-domain|https://www.mingw-w64.org/
PARTS
