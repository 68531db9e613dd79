#!/bin/sh
# Builds Velmora and starts it under Wine. With a display, it runs there;
# without one, it runs on a virtual display inside Wine's virtual desktop,
# a screenshot is saved under build/ and the program is closed again.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
sh scripts/build.sh
if [ -n "${DISPLAY:-}" ]; then
    sh scripts/wine-prefix.sh
    exec sh scripts/wine-run.sh build/velmora.exe
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" sh scripts/run-headless.sh
