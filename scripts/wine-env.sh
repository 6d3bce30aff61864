# Sourced by the Wine scripts: one project-local 64-bit prefix per build folder.
# Usage: . scripts/wine-env.sh BUILD_DIR
build_dir=$(mkdir -p "${1:?build folder}" && cd "$1" && pwd)
export WINEPREFIX="$build_dir/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Gecko or Mono installer dialogs: nothing here needs them.
export WINEDLLOVERRIDES="mscoree=;mshtml="
export DISPLAY=
WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=$(command -v wine64 || command -v wine)
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
export WINESERVER
