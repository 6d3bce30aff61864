#!/usr/bin/env bash
# Puts what a packager ships into a folder of its own (dist/ by default): both
# plug-ins with their debug files, the command-line host, the two demo
# packages as examples and a text saying which file is which. It copies from
# the build only: nothing is installed, and no Wine prefix is touched.
# Usage: dist.sh BUILD_DIR [DIST_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?build folder}" && pwd)
dist=${2:-$root/dist}
. "$root/demo/packages.sh"

rm -rf "$dist"
mkdir -p "$dist"
for dll in setup framework_setup; do
  cp "$build/src/plugin/$dll.dll" "$build/src/plugin/$dll.dll.debug" "$dist/"
done
cp "$build/tools/host/tzrhost.exe" "$dist/"
assemble_firmware_package "$root" "$build" "$dist/examples/firmware-package"
assemble_driver_package "$root" "$build" "$dist/examples/driver-package"
# The simulator under its own name: a package that carried it as mnv_cli.exe
# would run it instead of the vendor's tool.
mkdir -p "$dist/examples/simulator"
cp "$build/tools/mnv-sim/mnv_sim.exe" "$root/demo/package/mnv_sim.ini" "$dist/examples/simulator/"
cp -r "$root/examples/ansible" "$dist/examples/"
# CR LF: the text is read on the Windows servers the files go to.
sed 's/$/\r/' "$root/scripts/dist-files.txt" > "$dist/FILES.txt"

for dll in setup framework_setup; do
  bash "$root/tests/check-imports.sh" "$dist/$dll.dll"
done
echo "dist: $dist"
