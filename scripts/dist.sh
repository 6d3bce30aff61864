#!/usr/bin/env bash
# Makes a release in a folder of its own (dist/ by default) from the build:
# NAME-VERSION-win64.zip holding exactly the files FILES.txt lists (both
# plug-ins and the host, each with its debug file, the licences, the change
# log, the demo packages as examples), the same files unpacked beside it, and
# SHA256SUMS over every one of them and the archive. Nothing is installed into
# a Wine prefix. The third-party notices are taken, at each run, from the
# copies the build used: expat's source folder and the Debian packages that
# hold the runtime libraries the compiler links in.
#
# Signing (Authenticode, with osslsigncode, installed when missing): either
#   SIGN_CERT=cert.pem SIGN_KEY=key.pem     certificate (chain) and private key
#   SIGN_PKCS12=cert.p12                    or both in one PKCS#12 file
#   SIGN_PASS_FILE=file                     the key's password, when it has one
#   SIGN_TIMESTAMP=URL                      an RFC 3161 time-stamp server; without
#                                           one the signing time is the commit's,
#                                           so a signed release rebuilds the same
# signs both DLLs and tzrhost.exe (also as the examples' setup.dll).
# Usage: dist.sh BUILD_DIR [DIST_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?build folder}" && pwd)
dist=${2:-$root/dist}
. "$root/demo/packages.sh"
fail() { echo "dist: $*" >&2; exit 1; }

# The version the build wrote into the binaries (cmake/version.cmake).
[ -f "$build/release.env" ] || fail "$build/release.env is missing: build first"
. "$build/release.env"
grep -q "^## $TZR_VERSION\b" "$root/CHANGELOG.md" || fail "CHANGELOG.md has no entry for $TZR_VERSION"
archive="$TZR_NAME-$TZR_VERSION_TEXT-win64.zip"
# Archive times are the commit's, so the same commit packs the same bytes.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)
fi

rm -rf "$dist"
mkdir -p "$dist"
for binary in src/plugin/setup.dll src/plugin/framework_setup.dll tools/host/tzrhost.exe; do
  cp "$build/$binary" "$build/$binary.debug" "$dist/"
done

if [ -n "${SIGN_CERT:-}${SIGN_KEY:-}${SIGN_PKCS12:-}" ]; then
  if [ -n "${SIGN_PKCS12:-}" ]; then
    key=(-pkcs12 "$SIGN_PKCS12")
  else
    [ -n "${SIGN_CERT:-}" ] && [ -n "${SIGN_KEY:-}" ] || fail "signing needs SIGN_CERT and SIGN_KEY (or SIGN_PKCS12)"
    key=(-certs "$SIGN_CERT" -key "$SIGN_KEY")
  fi
  [ -z "${SIGN_PASS_FILE:-}" ] || key+=(-readpass "$SIGN_PASS_FILE")
  if [ -n "${SIGN_TIMESTAMP:-}" ]; then
    key+=(-ts "$SIGN_TIMESTAMP")
  else
    key+=(-time "$SOURCE_DATE_EPOCH")
  fi
  command -v osslsigncode >/dev/null || bash "$root/scripts/bootstrap.sh" osslsigncode
  for binary in setup.dll framework_setup.dll tzrhost.exe; do
    osslsigncode sign "${key[@]}" -h sha256 -n "$(basename "$binary" | sed 's/\..*//')" \
      -in "$dist/$binary" -out "$dist/$binary.signed" >/dev/null || fail "signing $binary failed"
    mv "$dist/$binary.signed" "$dist/$binary"
    echo "dist: signed $binary"
  done
fi

# The examples take the plug-ins from dist/, signed when they were.
assemble_firmware_package "$root" "$build" "$dist/examples/firmware-package"
assemble_driver_package "$root" "$build" "$dist/examples/driver-package"
cp "$dist/setup.dll" "$dist/examples/firmware-package/setup.dll"
cp "$dist/framework_setup.dll" "$dist/examples/driver-package/setup.dll"
# The simulator under its own name: a package that carried it as mnv_cli.exe
# would run it instead of the vendor's tool.
mkdir -p "$dist/examples/simulator"
cp "$build/tools/mnv-sim/mnv_sim.exe" "$root/demo/package/mnv_sim.ini" "$dist/examples/simulator/"
cp -r "$root/examples/ansible" "$root/examples/detection" "$dist/examples/"
cp "$root/tools/host/tzrhost-result.schema.json" "$dist/"

# CR LF: the texts are read on the Windows servers the files go to.
crlf() { sed 's/\r\?$/\r/'; }
crlf < "$root/scripts/dist-files.txt" > "$dist/FILES.txt"
crlf < "$root/LICENSE" > "$dist/LICENSE"
cp "$root/CHANGELOG.md" "$dist/"
bash "$root/scripts/third-party-notices.sh" "$TZR_EXPAT_SOURCE_DIR" "$TZR_CXX_COMPILER" \
  | crlf > "$dist/THIRD-PARTY-NOTICES.txt"

# The archive holds what FILES.txt lists, no more and no less.
listed=$(sed '1,/^Every file of the archive/d' "$root/scripts/dist-files.txt" | sed -n '/^-/d; s/^\([^ ][^ ]*\).*/\1/p' | tr '\\' / | LC_ALL=C sort)
staged=$(cd "$dist" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
if [ "$listed" != "$staged" ]; then
  diff <(echo "$listed") <(echo "$staged") | sed 's/^</  listed, not made:/; s/^>/  made, not listed:/' | grep '^ ' >&2
  fail "FILES.txt and the files made differ"
fi

bash "$root/tests/check-imports.sh" "$dist/setup.dll"
bash "$root/tests/check-imports.sh" "$dist/framework_setup.dll"
bash "$root/tests/check-imports.sh" --host "$dist/tzrhost.exe"

find "$dist" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
(cd "$dist" && echo "$staged" | TZ=UTC zip -q -X -D "$archive" -@)
(cd "$dist" && { echo "$staged"; echo "$archive"; } | tr '\n' '\0' | xargs -0 sha256sum) > "$dist/SHA256SUMS"
echo "dist: $dist/$archive"
