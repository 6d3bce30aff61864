#!/usr/bin/env bash
# Makes a release as `make dist` does, into a folder of the build, and checks
# it as a packager would: the archive holds exactly what FILES.txt lists, the
# checksums hold, the notices carry expat's licence as built, and the version
# in the three binaries' resources is the archive's. With --sign it also
# signs with a throw-away certificate, verifies each signature, makes the
# signed release a second time and compares the bytes, and checks that the
# signed host runs the signed plug-in under Wine.
# Usage: dist-test.sh SOURCE_DIR BUILD_DIR [--sign]
set -euo pipefail
root=$(cd "${1:?source folder}" && pwd)
build=$(cd "${2:?build folder}" && pwd)
sign=${3:-}
out="$build/dist-test$sign"
rm -rf "$out" && mkdir -p "$out"
fail() { echo "FAILED: $*"; exit 1; }

if [ "$sign" = --sign ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=TZR throw-away test signer" \
    -keyout "$out/key.pem" -out "$out/cert.pem" 2>/dev/null
  for folder in dist dist-again; do
    SIGN_CERT="$out/cert.pem" SIGN_KEY="$out/key.pem" bash "$root/scripts/dist.sh" "$build" "$out/$folder"
  done
  # Signed twice from the same build, the release is the same bytes: the
  # signing time is the commit's. SHA256SUMS covers every file and the archive.
  cmp "$out/dist/SHA256SUMS" "$out/dist-again/SHA256SUMS" ||
    { diff "$out/dist/SHA256SUMS" "$out/dist-again/SHA256SUMS"; fail "two signed releases of one build differ"; }
else
  bash "$root/scripts/dist.sh" "$build" "$out/dist"
fi
dist="$out/dist"
. "$build/release.env"
archive="$TZR_NAME-$TZR_VERSION_TEXT-win64.zip"

(cd "$dist" && sha256sum -c --quiet SHA256SUMS) || fail "sha256sum -c SHA256SUMS"
grep -q " $archive\$" "$dist/SHA256SUMS" || fail "SHA256SUMS does not cover $archive"
listed=$(sed '1,/^-----/d' "$dist/FILES.txt" | tr -d '\r' | sed -n 's/^\([^ ][^ ]*\).*/\1/p' | tr '\\' / | LC_ALL=C sort)
[ "$listed" = "$(unzip -Z1 "$dist/$archive" | LC_ALL=C sort)" ] || fail "$archive does not hold exactly what FILES.txt lists"
[ "$(cut -d' ' -f3 "$dist/SHA256SUMS" | LC_ALL=C sort)" = "$(printf '%s\n' $listed "$archive" | LC_ALL=C sort)" ] ||
  fail "SHA256SUMS does not name every shipped file"
# expat's notice, as the copy the build compiled words it, line for line.
notices=$(tr -d '\r' < "$dist/THIRD-PARTY-NOTICES.txt")
[[ $notices == *"$(cat "$TZR_EXPAT_SOURCE_DIR/COPYING")"* ]] || fail "THIRD-PARTY-NOTICES.txt lacks expat's COPYING"
[[ $notices == *"GCC RUNTIME LIBRARY EXCEPTION"* ]] || fail "no GCC runtime library exception"

numbers=$(echo "$TZR_FILE_VERSION" | sed 's/\./, /g')
for binary in setup.dll framework_setup.dll tzrhost.exe examples/firmware-package/setup.dll; do
  rc=$(x86_64-w64-mingw32-windres -i "$dist/$binary" -O rc)
  grep -q "FILEVERSION $numbers\$" <<<"$rc" && grep -q "PRODUCTVERSION $numbers\$" <<<"$rc" &&
    grep -q "VALUE \"ProductVersion\", \"$TZR_VERSION_TEXT\"\$" <<<"$rc" ||
    fail "$binary's version resource is not $TZR_VERSION_TEXT ($numbers)"
done
# Off the release tag the version says so.
if [ "$TZR_VERSION_TEXT" != "$TZR_VERSION" ]; then
  [[ $TZR_VERSION_TEXT == "$TZR_VERSION-dev+"* ]] || fail "a build off the tag is named $TZR_VERSION_TEXT"
  grep -q "FILEFLAGS 0x2\$" <<<"$rc" || fail "a build off the tag is not flagged as a pre-release"
fi
# cpack in the build folder refuses instead of packing something else.
(cd "$build" && cpack >/dev/null 2>&1) && fail "cpack made a package in $build"
echo "dist: $archive holds what FILES.txt lists; checksums, notices and versions agree"

[ "$sign" = --sign ] || exit 0
for binary in setup.dll framework_setup.dll tzrhost.exe examples/firmware-package/setup.dll examples/driver-package/setup.dll; do
  osslsigncode verify -CAfile "$out/cert.pem" -in "$dist/$binary" >"$out/verify.log" 2>&1 ||
    { cat "$out/verify.log"; fail "$binary carries no valid signature"; }
done
bash "$root/tests/check-imports.sh" "$dist/setup.dll"
bash "$root/tests/check-imports.sh" "$dist/framework_setup.dll"
bash "$root/tests/check-imports.sh" --host "$dist/tzrhost.exe"
# The signed host asks the signed plug-in in a copy of the firmware package.
. "$root/scripts/wine-env.sh" "$build"
. "$root/demo/packages.sh"
pkg="$WINEPREFIX/drive_c/tzr-tests/dist_signed"
rm -rf "$pkg" && mkdir -p "$pkg"
cp -r "$dist/examples/firmware-package/." "$pkg/"
add_simulator "$root" "$build" "$pkg"
answer=$("$WINE" "$dist/tzrhost.exe" 'C:\tzr-tests\dist_signed' 2>&1) || { echo "$answer"; fail "the signed plug-in did not answer"; }
grep -q "2.4.10" <<<"$answer" || { echo "$answer"; fail "the signed plug-in's answer lacks the package version 2.4.10"; }
echo "signed: five signatures verify, a second signed release is the same bytes, the signed host and plug-in answer under Wine"
