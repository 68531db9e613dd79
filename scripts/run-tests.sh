#!/bin/sh
# Builds everything and runs the test suite under Wine on a virtual X display.
# Extra arguments go to ctest (for example -R velmora_io_tests).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
sh scripts/build.sh
exec xvfb-run -a -s "-screen 0 1280x1024x24" sh scripts/ctest-on-display.sh "$@"
