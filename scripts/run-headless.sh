#!/bin/sh
# On a virtual display: starts velmora.exe in a Wine virtual desktop (which
# draws window frames), waits for its window, saves a screenshot of it and closes.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
sh scripts/wine-prefix.sh
export WINEPREFIX="$ROOT/build/wineprefix" WINEDEBUG=-all
SHOT="$ROOT/build/velmora-screenshot.png"
rm -f "$SHOT"
wine explorer /desktop=velmora,1024x768 build/velmora.exe &
DESKTOP=$!
for _ in $(seq 1 60); do
    sleep 1
    if wine explorer /desktop=velmora,1024x768 build/velmora-screenshot.exe "$SHOT" Velmora >/dev/null 2>&1; then
        break
    fi
done
wineserver -k || true
wait $DESKTOP 2>/dev/null || true
if [ -f "$SHOT" ]; then
    echo "velmora.exe started; screenshot of its window: $SHOT"
else
    echo "velmora.exe did not show its window" >&2
    exit 1
fi
