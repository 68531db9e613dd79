#!/bin/sh
# Makes the build tree's own Wine prefix once (the first start takes ~10 s).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="$ROOT/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.velmora-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    touch "$WINEPREFIX/.velmora-ready"
fi
