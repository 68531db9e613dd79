#!/bin/sh
# The long robustness runs, kept out of `make test` (see README, "Stress"):
#   1. velmora-fuzz for VELMORA_FUZZ_SECONDS (default 600)
#   2. a folder of 100,000 small files on /dev/shm through ZIP and .tzst
#   3. a folder nested 1,000 levels deep (paths to about 2,000 characters)
#      through ZIP and .tzst
#   4. a sparse file of 5 GiB through ZIP and .tzst (in build/stress)
#   5. an incompressible file of 4 GiB less 1 MiB through ZIP, tested by
#      unzip and 7-Zip (in build/stress)
#   6. 1,000 jobs in a row in one process, memory and handles before and after
#   7. every run exits: 3,000 short velmora-cli jobs in a row and the nest of
#      step 3, each process given 60 s (scripts/exits.sh)
# Each step prints its figures; the script exits non-zero when any step failed.
# VELMORA_STRESS_FOLDERS (default 100, of 1,000 files each),
# VELMORA_STRESS_DEPTH (default 1000), VELMORA_STRESS_GIB (default 5),
# VELMORA_STRESS_NEAR_4G (default 1; 0 skips step 5) and
# VELMORA_STRESS_JOBS (default 1000) and VELMORA_EXIT_JOBS (default 3000)
# scale steps 2 to 7 down for a quick try. VELMORA_FUZZ_SEEDS names a
# folder of archives that step 1 adds to the fuzzer's seeds (scripts/fuzz.sh).
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${VELMORA_BUILD_DIR:-$ROOT/build}
export VELMORA_BUILD_DIR=$BUILD_DIR
cmake --build "$BUILD_DIR" --target velmora-cli velmora-fuzz velmora-jobloop >/dev/null || exit 1
# 7-Zip tests the near-4-GiB ZIP.
command -v 7zz >/dev/null || sh "$ROOT/scripts/install-bench-tools.sh" >/dev/null || exit 1
WINE="sh $ROOT/scripts/wine-run.sh"
failed=0

step() { echo; echo "== $*"; }
now() { date +%s.%N; }
elapsed() { echo "$(now) $1" | awk '{ printf "%.1f", $1 - $2 }'; }
winpath() { printf 'Z:%s\n' "$1" | tr / '\\'; }
unixpath() { printf '%s\n' "$1" | tr -d '\r' | sed 's/^[Zz]://' | tr '\\' /; }
fail() { echo "FAILED: $*"; failed=1; }

# Packs $2 (a folder or file) as format $1 into $3/, extracts it there and
# compares the result with the original.
round_trip() {
    format=$1 source=$2 out=$3
    mkdir -p "$out"
    start=$(now)
    archive=$($WINE "$BUILD_DIR/velmora-cli.exe" compress --format "$format" "$(winpath "$source")" 2>/dev/null) ||
        { fail "$format compression of $source"; return; }
    archive=$(unixpath "$archive")
    echo "  $format compress  $(elapsed "$start") s  $(stat -c %s "$archive") bytes"
    mv "$archive" "$out/"
    start=$(now)
    destination=$($WINE "$BUILD_DIR/velmora-cli.exe" decompress "$(winpath "$out/$(basename "$archive")")" 2>/dev/null) ||
        { fail "$format extraction of $archive"; return; }
    destination=$(unixpath "$destination")
    echo "  $format extract   $(elapsed "$start") s  into $destination"
    start=$(now)
    name=$(basename "$source")
    if [ -d "$source" ]; then
        [ -d "$destination/$name" ] && destination="$destination/$name"
        diff -r "$source" "$destination" >/dev/null || fail "$format: the extracted tree differs"
        echo "  $format compared  $(elapsed "$start") s  $(find "$destination" -type f | wc -l) files"
    else
        [ -d "$destination" ] && destination="$destination/$name"
        cmp "$source" "$destination" || fail "$format: the extracted file differs"
        echo "  $format compared  $(elapsed "$start") s  $(stat -c %s "$destination") bytes"
    fi
    rm -rf "$out"
}

step "fuzz, ${VELMORA_FUZZ_SECONDS:-600} s"
sh "$ROOT/scripts/fuzz.sh" "${VELMORA_FUZZ_SECONDS:-600}" || fail "the fuzzer reported findings"

FOLDERS=${VELMORA_STRESS_FOLDERS:-100}
GIB=${VELMORA_STRESS_GIB:-5}

step "$((FOLDERS * 1000)) small files on /dev/shm"
SHM=/dev/shm/velmora-stress-$$
mkdir -p "$SHM/many"
python3 - "$SHM/many" "$FOLDERS" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(int(sys.argv[2])):
    folder = os.path.join(root, "d%03d" % d)
    os.mkdir(folder)
    for f in range(1000):
        with open(os.path.join(folder, "f%04d.txt" % f), "w") as out:
            out.write("file %d of folder %d\n" % (f, d))
PY
echo "  made $(find "$SHM/many" -type f | wc -l) files"
round_trip zip "$SHM/many" "$SHM/zip"
round_trip tzst "$SHM/many" "$SHM/tzst"
rm -rf "$SHM"

DEPTH=${VELMORA_STRESS_DEPTH:-1000}
step "a folder nested $DEPTH levels deep"
# One-letter folders keep every path within the program's 2,048-byte path
# buffers; a file every 100 levels and at the bottom.
DEEP=/dev/shm/velmora-deep-$$
mkdir -p "$DEEP"
python3 "$ROOT/scripts/make_nest.py" "$DEEP/top" "$DEPTH"
round_trip zip "$DEEP/top" "$DEEP/zip"
round_trip tzst "$DEEP/top" "$DEEP/tzst"
rm -rf "$DEEP"

step "a sparse file of $GIB GiB"
BIG=$BUILD_DIR/stress
rm -rf "$BIG"
mkdir -p "$BIG/in"
truncate -s "${GIB}G" "$BIG/in/big.bin"
printf 'start' | dd of="$BIG/in/big.bin" conv=notrunc status=none
printf 'middle' | dd of="$BIG/in/big.bin" bs=1 seek=$((GIB << 29)) conv=notrunc status=none
printf 'end' | dd of="$BIG/in/big.bin" bs=1 seek=$(((GIB << 30) - 3)) conv=notrunc status=none
round_trip zip "$BIG/in/big.bin" "$BIG/zip"
round_trip tzst "$BIG/in/big.bin" "$BIG/tzst"
rm -rf "$BIG"

if [ "${VELMORA_STRESS_NEAR_4G:-1}" != 0 ]; then
    step "an incompressible file of 4 GiB less 1 MiB through ZIP"
    # Deflate grows data it cannot compress, so this entry passes 4 GiB once
    # deflated: only with ZIP64 sizes do peers read it back.
    NEAR=$BUILD_DIR/stress
    rm -rf "$NEAR"
    mkdir -p "$NEAR/in"
    head -c $(((4 << 30) - (1 << 20))) /dev/urandom >"$NEAR/in/noise.bin"
    start=$(now)
    if archive=$($WINE "$BUILD_DIR/velmora-cli.exe" compress --format zip "$(winpath "$NEAR/in/noise.bin")" 2>/dev/null); then
        archive=$(unixpath "$archive")
        echo "  zip compress  $(elapsed "$start") s  $(stat -c %s "$archive") bytes"
        unzip -tq "$archive" >/dev/null 2>&1 && echo "  unzip -t: no errors" || fail "unzip -t finds errors in $archive"
        7zz t "$archive" >"$NEAR/7zz.out" 2>&1
        if grep -q "^Everything is Ok" "$NEAR/7zz.out" && ! grep -qi -E "warning|error" "$NEAR/7zz.out"; then
            echo "  7zz t: everything is ok"
        else
            cat "$NEAR/7zz.out"
            fail "7zz t warns about $archive"
        fi
        rm -f "$NEAR/7zz.out"
        mkdir -p "$NEAR/zip"
        mv "$archive" "$NEAR/zip/"
        start=$(now)
        if destination=$($WINE "$BUILD_DIR/velmora-cli.exe" decompress "$(winpath "$NEAR/zip/noise.zip")" 2>/dev/null); then
            echo "  zip extract   $(elapsed "$start") s"
            cmp "$NEAR/in/noise.bin" "$(unixpath "$destination")/noise.bin" && echo "  identical" ||
                fail "the extracted noise.bin differs"
        else
            fail "zip extraction of noise.zip"
        fi
    else
        fail "zip compression of noise.bin"
    fi
    rm -rf "$NEAR"
fi

JOBS=${VELMORA_STRESS_JOBS:-1000}
step "$JOBS jobs in one process"
mkdir -p "$BUILD_DIR/jobloop"
$WINE "$BUILD_DIR/velmora-jobloop.exe" --jobs "$JOBS" --folder "$(winpath "$BUILD_DIR/jobloop")" ||
    fail "jobs failed or memory or handles grew"
rm -rf "$BUILD_DIR/jobloop"

EXIT_JOBS=${VELMORA_EXIT_JOBS:-3000}
step "every run exits: $EXIT_JOBS short jobs, then the nest of $DEPTH levels"
VELMORA_EXIT_JOBS=$EXIT_JOBS VELMORA_STRESS_DEPTH=$DEPTH sh "$ROOT/scripts/exits.sh" || fail "a run hung or failed"

echo
[ $failed -eq 0 ] && echo "stress: all passed" || echo "stress: FAILED"
exit $failed
