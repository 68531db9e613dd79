#!/bin/sh
# Every velmora-cli run must end: N short jobs in a row (default 3,000,
# VELMORA_EXIT_JOBS), each a process of its own that must exit within 60 s
# with its archive made, then a folder nested VELMORA_STRESS_DEPTH levels
# deep (default 1,000) through ZIP and .tzst, each run within 600 s (a deep
# path costs Wine time at every level). Prints the count of runs that exited
# and the slowest; non-zero when any hung or failed.
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${VELMORA_BUILD_DIR:-$ROOT/build}
export WINEPREFIX="${WINEPREFIX:-$BUILD_DIR/wineprefix}" WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
JOBS=${VELMORA_EXIT_JOBS:-3000}
DEPTH=${VELMORA_STRESS_DEPTH:-1000}
WORK=$(mktemp -d /dev/shm/velmora-exits.XXXXXX)
mkdir -p "$WORK/bin/portable"
cp "$BUILD_DIR/velmora-cli.exe" "$WORK/bin/"
CLI=$WORK/bin/velmora-cli.exe
wineserver -p
# The nest lies as close to the root as stress.sh's, so that its deepest
# path stays within the program's 2,048-character path buffers.
NEST=$(mktemp -d /dev/shm/velmora-deep.XXXXXX)
trap 'rm -rf "$WORK" "$NEST"; wineserver -k' EXIT
winpath() { printf 'Z:%s\n' "$1" | tr / '\\'; }
now() { date +%s%N; }

hung=0 failed=0 slowest=0 limit=60
# Runs one job; counts a run killed after $limit s as hung, any other exit
# but 0 as failed, and keeps the slowest run in milliseconds.
one() {
    start=$(now)
    timeout -s KILL "$limit" wine "$CLI" "$@" </dev/null >/dev/null 2>"$WORK/err"
    rc=$?
    ms=$((($(now) - start) / 1000000))
    [ "$ms" -gt "$slowest" ] && slowest=$ms
    if [ "$rc" = 137 ]; then
        hung=$((hung + 1))
        printf '  hung: %s\n' "$*"
    elif [ "$rc" != 0 ]; then
        failed=$((failed + 1))
        printf '  exit %s: %s (%s)\n' "$rc" "$*" "$(head -c 200 "$WORK/err")"
    fi
}

mkdir -p "$WORK/short/a"
printf 'one\n' >"$WORK/short/a/one.txt"
printf 'two\n' >"$WORK/short/two.txt"
started=$(now)
i=0
while [ "$i" -lt "$JOBS" ]; do
    if [ $((i % 2)) = 0 ]; then format=zip; else format=tzst; fi
    one compress --format "$format" "$(winpath "$WORK/short")"
    i=$((i + 1))
done
seconds=$((($(now) - started) / 1000000000))
echo "$JOBS short jobs: $((JOBS - hung - failed)) exited with their archive, $hung hung, $failed failed;" \
    "$seconds s in all, slowest $slowest ms"
short_bad=$((hung + failed))

python3 "$ROOT/scripts/make_nest.py" "$NEST/top" "$DEPTH"
hung=0 failed=0 slowest=0 limit=600
for format in zip tzst; do
    one compress --format "$format" "$(winpath "$NEST/top")"
    printf '  %s of the nest: %s ms\n' "$format" "$ms"
    mkdir -p "$NEST/$format" && mv "$NEST/top.$format" "$NEST/$format/"
    one decompress "$(winpath "$NEST/$format/top.$format")"
    diff -r "$NEST/top" "$NEST/$format/top" >/dev/null || { failed=$((failed + 1)); echo "  $format: the tree differs"; }
done
echo "nest of $DEPTH levels: 4 runs, $hung hung, $failed failed; slowest $slowest ms"
[ "$short_bad" = 0 ] && [ $((hung + failed)) = 0 ]
