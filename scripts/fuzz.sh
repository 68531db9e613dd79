#!/bin/sh
# Runs velmora-fuzz under Wine for SECONDS (default 600); findings go to
# build/fuzz-findings. Further arguments go to the fuzzer (--seed S,
# --target zip|tzst|prefs|editor|deflate64). Exit code: the fuzzer's (0: no
# findings).
#   sh scripts/fuzz.sh [SECONDS] [ARGS...]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${VELMORA_BUILD_DIR:-$ROOT/build}
SECONDS_TO_RUN=${1:-600}
[ $# -gt 0 ] && shift
[ -f "$BUILD_DIR/velmora-fuzz.exe" ] || cmake --build "$BUILD_DIR" --target velmora-fuzz
FINDINGS="$BUILD_DIR/fuzz-findings"
mkdir -p "$FINDINGS"
echo "fuzzing for $SECONDS_TO_RUN s; findings in $FINDINGS"
VELMORA_BUILD_DIR=$BUILD_DIR sh "$ROOT/scripts/wine-run.sh" "$BUILD_DIR/velmora-fuzz.exe" \
    --seconds "$SECONDS_TO_RUN" --findings "Z:$(printf '%s' "$FINDINGS" | tr / '\\')" "$@"
