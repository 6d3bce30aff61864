#!/usr/bin/env bash
# Fetches expat from the distribution's source index into .deps/ (outside git)
# with a private sources list, so the machine's own apt configuration is left
# alone. Prints the unpacked source folder. Cached: a second run only prints.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
deps="$root/.deps"
stamp="$deps/expat.dir"

if [ -f "$stamp" ] && [ -f "$(cat "$stamp")/CMakeLists.txt" ]; then
  cat "$stamp"
  exit 0
fi

. /etc/os-release
codename=${VERSION_CODENAME:-bookworm}
apt_dir="$deps/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/src"
echo "deb-src http://deb.debian.org/debian $codename main" > "$apt_dir/sources.list"

apt_opts=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=-"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "APT::Sandbox::User=root"
  -o "Debug::NoLocking=1"
)

apt-get "${apt_opts[@]}" -qq update >&2
rm -rf "$apt_dir/src" && mkdir -p "$apt_dir/src"
(cd "$apt_dir/src" && apt-get "${apt_opts[@]}" -qq source expat >&2)

src=$(find "$apt_dir/src" -mindepth 1 -maxdepth 1 -type d -name 'expat-*' | head -n 1)
src="$src/expat"
[ -f "$src/CMakeLists.txt" ] || { echo "fetch-expat: no expat source found" >&2; exit 1; }
echo "$src" > "$stamp"
echo "$src"
