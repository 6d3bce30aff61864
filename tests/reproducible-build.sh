#!/usr/bin/env bash
# Builds setup.dll a second time, from a second copy of the tree in another
# folder, with the first build's settings, and compares the bytes of the DLL
# and of its PDB: the same commit must give the same plug-in and the same
# symbols wherever it is built (no folder name, no link time, one image
# base), and neither names a folder of the machine that built it.
# The copy is a clone of the commit with the working tree's files laid over
# it, so that a tree with changes not yet committed compares like with like
# (both builds name the commit and say ".dirty").
# Usage: reproducible-build.sh SOURCE_DIR BUILD_DIR EXPAT_SOURCE_DIR WERROR
set -euo pipefail
root=$(cd "${1:?source folder}" && pwd)
build=$(cd "${2:?build folder}" && pwd)
second="$build/reproducible-build"
fail() { echo "FAILED: $*"; exit 1; }
rm -rf "$second"
mkdir -p "$second"
git clone --quiet "$root" "$second/tree" || fail "cannot clone $root"
git -C "$second/tree" checkout --quiet --detach "$(git -C "$root" rev-parse HEAD)"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
   tar -c --null --ignore-failed-read -T - 2>/dev/null) | tar -x -C "$second/tree"
# The second build lies where the first does: inside its tree when the first
# lies inside its own, beside it otherwise.
case $build/ in
  "$root"/*) second_build="$second/tree/${build#"$root"/}" ;;
  *) second_build="$second/build" ;;
esac
cmake -S "$second/tree" -B "$second_build" -DCMAKE_TOOLCHAIN_FILE="$second/tree/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DEXPAT_SOURCE_DIR="${3:?expat source folder}" -DTZR_WERROR="${4:-ON}" >/dev/null
cmake --build "$second_build" --target setup -j2 >/dev/null
# The first build's DLL as it is now: rebuilt if a commit came since.
cmake --build "$build" --target setup >/dev/null
for file in setup.dll setup.pdb; do
  cmp "$build/src/plugin/$file" "$second_build/src/plugin/$file" ||
    fail "$file built from $root in $build and from $second/tree in $second_build differ"
  for folder in "$root" "$second"; do
    ! grep -qF "$folder" "$second_build/src/plugin/$file" || fail "$file names the folder $folder"
  done
done
echo "setup.dll and setup.pdb: the same bytes from $root and $second/tree"
rm -rf "$second"
