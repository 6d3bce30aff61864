#!/usr/bin/env bash
# Installs the Debian packages the build and the test run need, when missing.
# Fast when everything is there: dpkg is asked first, apt only for what lacks.
# Packages named as arguments are installed the same way, when missing.
set -euo pipefail

packages=(
  make cmake git
  # The Windows build: clang 16 and lld 16 (PDBs), with mingw-w64's headers
  # and libraries and GCC's C++ runtime (cmake/mingw-w64.cmake); llvm 16's
  # tools read the PDBs back and strip the images.
  clang-16 lld-16 llvm-16
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  googletest
  clang libclang-rt-14-dev
  dpkg-dev xz-utils ca-certificates
  # The SBOM is written and checked against CycloneDX's schema in Python.
  python3 python3-jsonschema
  zip unzip openssl
  # the rollout example run by ansible-playbook, the host's JSON checked
  # against its schema; python3-winrm is what the example needs for WinRM
  ansible python3-jsonschema python3-winrm
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
