#!/bin/sh
# On a virtual display: starts velmora.exe in a Wine virtual desktop (which
# draws window frames), waits for its window, saves a screenshot of it and
# closes it again.
#
# One explorer holds the desktop and runs the screenshot tool, which starts
# velmora.exe itself: a second `explorer /desktop=` started while the first
# is still setting the desktop up was seen to wait for ever, and explorer
# exits with 0 whatever its program did. The screenshot file is what tells.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
sh scripts/wine-prefix.sh
export WINEPREFIX="$ROOT/build/wineprefix" WINEDEBUG=-all
SHOT="$ROOT/build/velmora-screenshot.png"
WAIT=${VELMORA_RUN_WAIT:-120}
rm -f "$SHOT"
start=$(date +%s)
wine explorer /desktop=velmora,1024x768 'build\velmora-screenshot.exe' --start 'build\velmora.exe' \
    --wait "$WAIT" "$SHOT" Velmora >/dev/null 2>&1 &
DESKTOP=$!
# The tool closes the program when it is done and the desktop then closes;
# past the tool's own wait, give up on it.
while kill -0 "$DESKTOP" 2>/dev/null && [ $(($(date +%s) - start)) -lt $((WAIT + 30)) ]; do
    sleep 1
done
wineserver -k 2>/dev/null || true
wait "$DESKTOP" 2>/dev/null || true
if [ -s "$SHOT" ]; then
    echo "velmora.exe started; screenshot of its window after $(($(date +%s) - start)) s: $SHOT"
else
    echo "velmora.exe did not show its window within $WAIT s" >&2
    exit 1
fi
