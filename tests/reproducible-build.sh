#!/usr/bin/env bash
# Builds setup.dll a second time, in another folder, with the first build's
# settings, and compares the bytes: the same commit must give the same
# plug-in wherever it is built (no folder name, no link time, one image
# base). Its debug link holds a checksum of setup.dll.debug, so equal DLLs
# also mean equal debug files.
# Usage: reproducible-build.sh SOURCE_DIR BUILD_DIR EXPAT_SOURCE_DIR WERROR
set -euo pipefail
root=$(cd "${1:?source folder}" && pwd)
build=$(cd "${2:?build folder}" && pwd)
second="$build/reproducible-build"
rm -rf "$second"
cmake -S "$root" -B "$second" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DEXPAT_SOURCE_DIR="${3:?expat source folder}" -DTZR_WERROR="${4:-ON}" >/dev/null
cmake --build "$second" --target setup -j2 >/dev/null
# The first build's DLL as it is now: rebuilt if a commit came since.
cmake --build "$build" --target setup >/dev/null
if ! cmp "$build/src/plugin/setup.dll" "$second/src/plugin/setup.dll"; then
  echo "FAILED: setup.dll built in $build and in $second differ"
  exit 1
fi
grep -q "$build" "$second/src/plugin/setup.dll.debug" && { echo "FAILED: the build folder is named in setup.dll.debug"; exit 1; }
echo "setup.dll: the same bytes from $build and $second"
rm -rf "$second"
