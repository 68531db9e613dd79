#!/bin/sh
# Runs velmora-fuzz under Wine for SECONDS (default 600); findings go to
# build/fuzz-findings. Further arguments go to the fuzzer (--seed S,
# --target zip|tzst|tgz|tbz2|txz|7z|rar|gz|prefs|editor|deflate64,
# --seeds FOLDER). A folder of seeds can also be given as
# VELMORA_FUZZ_SEEDS: its files whose extension is a target's name (.zip,
# .tzst, .7z, .rar, .prefs, ...) join that target's seeds. The hand-made hostile archives of the tests
# (tests/jobs/crafted_archives.py) always join them. Exit code: the
# fuzzer's (0: no findings).
#   sh scripts/fuzz.sh [SECONDS] [ARGS...]
#   VELMORA_FUZZ_SEEDS=~/hostile-zips sh scripts/fuzz.sh 180 --target zip
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${VELMORA_BUILD_DIR:-$ROOT/build}
SECONDS_TO_RUN=${1:-600}
[ $# -gt 0 ] && shift
[ -f "$BUILD_DIR/velmora-fuzz.exe" ] || cmake --build "$BUILD_DIR" --target velmora-fuzz
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
FINDINGS="$BUILD_DIR/fuzz-findings"
mkdir -p "$FINDINGS"
# Seed folders, from the environment or the arguments, reach the fuzzer as
# Windows paths.
need_folder() { [ -d "$1" ] || { echo "fuzz.sh: no seeds folder $1" >&2; exit 2; }; }
seeds_path() { winpath "$(cd "$1" && pwd)"; }
count=$#
while [ "$count" -gt 0 ]; do
    argument=$1
    shift
    count=$((count - 1))
    if [ "$argument" = --seeds ] && [ "$count" -gt 0 ]; then
        need_folder "$1"
        set -- "$@" --seeds "$(seeds_path "$1")"
        shift
        count=$((count - 1))
    else
        set -- "$@" "$argument"
    fi
done
CRAFTED="$BUILD_DIR/fuzz-seeds-crafted"
rm -rf "$CRAFTED"
python3 "$ROOT/tests/jobs/crafted_archives.py" --seeds "$CRAFTED"
set -- --seeds "$(seeds_path "$CRAFTED")" "$@"
if [ -n "${VELMORA_FUZZ_SEEDS:-}" ]; then
    need_folder "$VELMORA_FUZZ_SEEDS"
    set -- --seeds "$(seeds_path "$VELMORA_FUZZ_SEEDS")" "$@"
fi
echo "fuzzing for $SECONDS_TO_RUN s; findings in $FINDINGS"
VELMORA_BUILD_DIR=$BUILD_DIR sh "$ROOT/scripts/wine-run.sh" "$BUILD_DIR/velmora-fuzz.exe" \
    --seconds "$SECONDS_TO_RUN" --findings "$(winpath "$FINDINGS")" "$@"
