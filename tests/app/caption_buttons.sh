#!/bin/sh
# The caption buttons of the program's window in a fresh Wine prefix made by
# the scripts: the window is framed by a Wine virtual desktop, screenshot by
# velmora-screenshot (saved as build/caption-buttons.png) and its close and
# minimize buttons must show their glyphs (caption_glyphs.py). Needs an X
# display; the program runs in portable mode from a copy.
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${VELMORA_BUILD_DIR:-$ROOT/build}
WORK=$(mktemp -d /dev/shm/velmora-captions.XXXXXX)
PREFIX=$WORK/prefix
trap 'WINEPREFIX="$PREFIX" wineserver -k 2>/dev/null || true; rm -rf "$WORK"' EXIT
sh "$ROOT/scripts/wine-prefix.sh" "$PREFIX"
export WINEPREFIX="$PREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WORK/bin/portable"
cp "$BUILD/velmora.exe" "$BUILD/velmora-screenshot.exe" "$WORK/bin/"
win() { printf 'Z:%s\n' "$1" | tr / '\\'; }
timeout -s KILL 150 wine explorer /desktop=captions,800x600 "$(win "$WORK/bin/velmora-screenshot.exe")" \
    --start "$(win "$WORK/bin/velmora.exe")" --wait 60 "$(win "$WORK/shot.png")" Velmora >/dev/null 2>&1 || true
if [ ! -s "$WORK/shot.png" ]; then
    echo "FAIL: no screenshot of the program's window"
    exit 1
fi
cp "$WORK/shot.png" "$BUILD/caption-buttons.png"
python3 "$ROOT/tests/app/caption_glyphs.py" "$WORK/shot.png"
