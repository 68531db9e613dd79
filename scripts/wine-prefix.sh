#!/bin/sh
# Makes a Wine prefix once (the first start takes ~10 s) and gives it the
# fonts of fonts-wine (scripts/wine-fonts.sh); a prefix made before that
# step gets its fonts at the next call. Usage: wine-prefix.sh [PREFIX],
# by default the build tree's own prefix, build/wineprefix.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${1:-$ROOT/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.velmora-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    touch "$WINEPREFIX/.velmora-ready"
fi
if [ ! -f "$WINEPREFIX/.velmora-fonts" ]; then
    sh "$ROOT/scripts/wine-fonts.sh" "$WINEPREFIX"
    touch "$WINEPREFIX/.velmora-fonts"
fi
