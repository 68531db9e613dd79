#!/bin/bash
# Real faults against velmora-cli, on top of the injected ones of
# fault_tests.cpp: a destination on a read-only mount, a small tmpfs that
# fills up, jobs killed with SIGKILL in each of their phases, a tree that
# holds a link to its parent and a bind mount of itself, and the console's
# close, logoff and shutdown events in mid-job. A job that meets a fault
# ends with exit code 3 when it made nothing and 1 when it made a part
# (never 0); after every fault the inputs are byte for byte as they were,
# nothing that passes for a complete archive is left (archives and tarballs
# carry ".partial" names until they are whole), and the same job run again
# completes and gives back the original despite whatever the fault left
# behind.
#
# Each group states how many checks it makes, and a group that makes fewer
# (a kill that missed its phase) or more fails the run. The mounts need
# root: a group whose mount is refused prints "skip: ..." and the rest still
# runs, and the run then ends with SKIP_STATUS (77), which ctest shows as
# skipped, unless something failed. Every mount, drive letter and scratch
# folder goes on exit, also on failure.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${VELMORA_BUILD_DIR:-$ROOT/build}
export WINEPREFIX=${WINEPREFIX:-$BUILD/wineprefix} WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
PYTHON=$(command -v /usr/bin/python3 || command -v python3)
JOB_SECONDS=60  # a job still running after this long counts as hung

WORK=$(mktemp -d /dev/shm/velmora-faults.XXXXXX)
TAG=$(basename "$WORK")
MOUNTS=()
DRIVES=()
BACKGROUND=""
SKIP_STATUS=77  # ctest: skipped
passed=0 failed=0
skipped=()
started=$SECONDS

cleanup() {
    if [ -n "$BACKGROUND" ] && kill -0 "$BACKGROUND" 2>/dev/null; then
        kill -KILL "$BACKGROUND" 2>/dev/null
        wait "$BACKGROUND" 2>/dev/null
    fi
    local drive mount
    for drive in "${DRIVES[@]}"; do rm -f "$WINEPREFIX/dosdevices/$drive"; done
    for ((i = ${#MOUNTS[@]} - 1; i >= 0; i--)); do
        mount=${MOUNTS[i]}
        mountpoint -q "$mount" && { umount "$mount" 2>/dev/null || umount -l "$mount"; }
    done
    for mount in "${MOUNTS[@]}"; do
        if mountpoint -q "$mount"; then
            echo "still mounted: $mount; leaving $WORK" >&2
            return
        fi
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Counts and prints one check; returns its result.
check() {
    local name=$1; shift
    if "$@"; then passed=$((passed + 1)); echo "ok   $name"; return 0; fi
    failed=$((failed + 1)); echo "FAIL $name"; return 1
}
note() { echo "     $*"; }
# Runs a group that plans to make the given number of checks.
group() {
    local name=$1 planned=$2 from=$SECONDS made=$((passed + failed))
    GROUP_SKIPPED=""
    "$name"
    made=$((passed + failed - made))
    if [ -n "$GROUP_SKIPPED" ]; then
        skipped+=("$name")
    elif [ "$made" != "$planned" ]; then
        failed=$((failed + 1))
        echo "FAIL $name made $made checks, not the $planned it plans"
    fi
    note "$name: $((SECONDS - from)) s"
}
# Says why the group cannot run here; the caller returns.
skip() { echo "skip: $*"; GROUP_SKIPPED=$*; }
win() { winepath -w "$1" 2>/dev/null; }

# velmora-cli runs from a copy with a "portable" folder beside it, so the jobs
# see the program's default preferences and never the user's.
mkdir -p "$WORK/bin/portable"
cp "$BUILD/velmora-cli.exe" "$WORK/bin/"
CLI=$WORK/bin/velmora-cli.exe
# Wine's services start detached from our output: started by a job, they
# would hold ctest's pipe open.
wine cmd /c exit >/dev/null 2>&1 </dev/null

# Runs velmora-cli in the foreground; its status in $rc, stderr in $WORK/cli.err.
cli() {
    timeout -s KILL "$JOB_SECONDS" wine "$CLI" "$@" </dev/null >"$WORK/cli.out" 2>"$WORK/cli.err"
    rc=$?
}
exit_is() {
    [ "$rc" = "$1" ] && return 0
    if [ "$rc" = 137 ]; then
        note "the job hung: killed after $JOB_SECONDS s"
    else
        note "exit code $rc, expected $1: $(head -c 300 "$WORK/cli.err")"
    fi
    return 1
}

# Names, kinds, sizes and checksums of everything below a folder (or of one file).
fingerprint() {
    if [ -d "$1" ]; then
        (cd "$1" && find . -printf '%y %p %s\n' | LC_ALL=C sort && find . -type f -print0 | LC_ALL=C sort -z | xargs -0r sha256sum)
    else
        sha256sum <"$1"
    fi
}
same_tree() { diff -r "$1" "$2" >/dev/null && [ "$(cd "$1" && find . | LC_ALL=C sort)" = "$(cd "$2" && find . | LC_ALL=C sort)" ]; }

# Every file below a job's output folder is a whole copy of its original:
# a file cut short must not stay behind looking like one.
only_whole_files() {
    local out=$1 reference=$2 file
    [ -d "$out" ] || return 0
    while IFS= read -r -d '' file; do
        cmp -s "$out/$file" "$reference/$file" || { note "cut short or wrong: $file"; return 1; }
    done < <(cd "$out" && find . -type f -print0)
}

# One line on what a fault left in a folder beside the given names.
left_behind() {
    local label=$1 folder=$2; shift 2
    local entry name words=()
    for entry in "$folder"/* "$folder"/.[!.]*; do
        [ -e "$entry" ] || continue
        name=$(basename "$entry")
        [[ " $* " == *" $name "* ]] && continue
        if [ -d "$entry" ]; then
            words+=("$name/ ($(find "$entry" -type f | wc -l) files, $(du -sb "$entry" | cut -f1) bytes)")
        else
            words+=("$name ($(stat -c %s "$entry") bytes)")
        fi
    done
    if [ ${#words[@]} = 0 ]; then words=(nothing); fi
    local joined
    joined=$(printf '%s, ' "${words[@]}")
    note "$label left behind: ${joined%, }"
}

# A zip left by a failed job is refused by Info-ZIP and by velmora-cli (which
# works on a copy elsewhere, so it never extracts over the job's inputs).
zip_refused_by_unzip() { ! unzip -tqq "$1" >/dev/null 2>&1; }
zip_refused_by_velmora() {
    local probe
    probe=$(mktemp -d "$WORK/probe.XXXXXX")
    cp "$1" "$probe/left.zip"
    cli decompress "$(win "$probe/left.zip")"
    rm -rf "$probe"
    [ "$rc" = 3 ] || { note "velmora-cli decompress gave exit code $rc"; false; }
}
no_whole_looking_zip() {
    [ -e "$1" ] || { note "no $(basename "$1") left"; return 0; }
    zip_refused_by_unzip "$1" || { note "unzip -t takes the $(basename "$1") left"; return 1; }
    zip_refused_by_velmora "$1"
}
check_zip_left() {
    check "$1: no $(basename "$2") left, or one that unzip -t and velmora-cli decompress refuse" no_whole_looking_zip "$2"
}

# Extracts an archive with the Linux tools into a fresh folder, for comparing.
unpack_elsewhere() {
    rm -rf "$WORK/unpacked" && mkdir -p "$WORK/unpacked"
    case $1 in
        *.zip) unzip -qq "$1" -d "$WORK/unpacked" ;;
        *.tzst) tar --zstd -xf "$1" -C "$WORK/unpacked" ;;
    esac
}
round_trips() { unpack_elsewhere "$1" && same_tree "$WORK/unpacked" "$2"; }

# A drive letter of our own prefix for a folder, in $DRIVE ("R:"): the jobs
# reach the mounts the way a user's program reaches another disk.
add_drive() {
    local letter
    for letter in r s t u v w x y q p o n m; do
        if [ ! -e "$WINEPREFIX/dosdevices/$letter:" ] && [ ! -L "$WINEPREFIX/dosdevices/$letter:" ]; then
            ln -s "$1" "$WINEPREFIX/dosdevices/$letter:" || return 1
            DRIVES+=("$letter:")
            DRIVE=${letter^^}:
            return 0
        fi
    done
    return 1
}

make_random_tree() {
    "$PYTHON" - "$@" <<'PY'
import os, random, sys
root, seed, sizes = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
rnd = random.Random(seed)
for item in sizes:
    name, size = item.split("=")
    path = os.path.join(root, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(rnd.randbytes(int(size)))
PY
}

# Makes FOLDER.zip and FOLDER.tzst with velmora-cli and moves them to
# BASE.zip and BASE.tzst.
make_archives() {
    local format
    for format in zip tzst; do
        cli compress --format $format "$(win "$1")" && [ "$rc" = 0 ] && mv "$1.$format" "$2.$format" || return 1
    done
}

# ---------------------------------------------------------------------------
# 1. A read-only destination: a read-only bind mount behind a drive letter,
# holding the inputs. As root a plain chmod stops nothing, hence the mount.
read_only_destination() {
    local filled=$WORK/ro-content ro=$WORK/ro
    make_random_tree "$filled/docs" 1 "a.bin=150000" "inner/b.bin=90000"
    printf 'a note\n' >"$filled/docs/note.txt"
    printf 'single file\n' >"$filled/notes.txt"
    make_archives "$filled/docs" "$filled/packed" || { echo "FAIL read-only: the archives to extract could not be made"; failed=$((failed + 1)); return; }
    mkdir -p "$ro"
    if ! mount --bind "$filled" "$ro" 2>/dev/null; then
        skip "read-only destination (mount --bind refused)"
        return
    fi
    MOUNTS+=("$ro")
    if ! mount -o remount,ro,bind "$ro" 2>/dev/null; then
        skip "read-only destination (remount read-only refused)"
        return
    fi
    if touch "$ro/.probe" 2>/dev/null; then
        rm -f "$ro/.probe"
        skip "read-only destination (the mount still takes writes)"
        return
    fi
    add_drive "$ro" || { skip "read-only destination (no free drive letter)"; return; }
    local drive=$DRIVE
    local before
    before=$(fingerprint "$ro")
    local job label
    for job in "zip of a folder:compress --format zip $drive\\docs" \
               "tzst of a folder:compress --format tzst $drive\\docs" \
               "zip of a file:compress --format zip $drive\\notes.txt" \
               "tzst of a file:compress --format tzst $drive\\notes.txt" \
               "zip extraction:decompress $drive\\packed.zip" \
               "tzst extraction:decompress $drive\\packed.tzst"; do
        label="read-only: ${job%%:*}"
        # shellcheck disable=SC2086 # the job's words
        cli ${job#*:}
        check "$label exits 3 (nothing made)" exit_is 3
        check "$label writes nothing and leaves the inputs intact" test "$(fingerprint "$ro")" = "$before"
        case $label in
            *"tzst extraction") check "$label says the tarball could not be written, not that the archive is damaged" \
                said_not_written "could not be written, extraction stopped: $drive\\packed.tar: " ;;
            *"zip extraction") check "$label says the folder could not be made" \
                said_not_written "nothing was extracted: the folder packed could not be made, " ;;
        esac
    done
}

# The cause is the destination, so the words say it, and never blame the archive.
said_not_written() {
    grep -qF "velmora-cli: $1" "$WORK/cli.err" && ! grep -q 'could not be read' "$WORK/cli.err" ||
        { cat "$WORK/cli.err"; return 1; }
}

# ---------------------------------------------------------------------------
# 2. A full disk: a small tmpfs behind a drive letter. The inputs fit; a
# filler file leaves only so much room that the output does not, and the
# input data is random so compression cannot make it fit.
FULL="" REFERENCE=""

# Empties the tmpfs and copies the named entries of the reference into it.
reset_full() {
    find "$FULL" -mindepth 1 -delete
    local name
    for name in "$@"; do cp -a "$REFERENCE/$name" "$FULL/"; done
}
# Makes a filler so that only the given KiB stay free.
leave_free() {
    rm -f "$FULL/filler"
    local free_kib=$(( $(stat -f -c '%a * %S' "$FULL") / 1024 ))
    [ "$free_kib" -gt "$1" ] && head -c $(( (free_kib - $1) * 1024 )) /dev/zero >"$FULL/filler"
}

# Runs a job on the full disk, checks the failure, frees the room and runs it
# again. kind is the shape of the output: zip, tzst (archives beside the
# input) or folder (an extraction); expected is the reference folder the
# output must give back.
full_disk_case() {
    local label="full disk: $1" free_kib=$2 input=$3 output=$4 kind=$5 expected=$REFERENCE/$6; shift 6
    reset_full "$input"
    leave_free "$free_kib"
    local before
    before=$(fingerprint "$FULL/$input")
    cli "$@"
    # Nothing made is 3; an extraction that wrote some files before the disk
    # filled finished in part, 1.
    local expected_rc=3
    [ "$kind" = folder ] && [ -n "$(find "$FULL/$output" -type f 2>/dev/null | head -n 1)" ] && expected_rc=1
    check "$label exits $expected_rc" exit_is $expected_rc
    case $kind in
        zip | tzst) check "$label says once that the disk is full, and nothing per file" said_disk_full_once ;;
        folder) check "$label stops, says once that the disk is full, and nothing per file" said_extraction_stopped_once ;;
    esac
    check "$label leaves the input intact" test "$(fingerprint "$FULL/$input")" = "$before"
    left_behind "$label" "$FULL" "$input" filler
    case $kind in
        tzst) check "$label leaves no $output" test ! -e "$FULL/$output" ;;
        zip) check_zip_left "$label" "$FULL/$output" ;;
        folder) check "$label leaves only whole files in $output/" only_whole_files "$FULL/$output" "$expected" ;;
    esac
    rm -f "$FULL/filler"
    cli "$@"
    check "$label: with room again the job completes" exit_is 0
    case $kind in
        zip | tzst) check "$label: with room again $output holds the input" round_trips "$FULL/$output" "$expected" ;;
        folder) check "$label: with room again $output/ holds the archive's files" same_tree "$FULL/$output" "$expected" ;;
    esac
}

# A compression that ran out of room stops there and says so in one line.
said_disk_full_once() {
    [ "$(grep -c '^velmora-cli: archive could not be written: .*: the disk is full' "$WORK/cli.err")" = 1 ] &&
        ! grep -q 'could not be added' "$WORK/cli.err" || { cat "$WORK/cli.err"; return 1; }
}

# An extraction that ran out of room stops there and says so in one line.
said_extraction_stopped_once() {
    [ "$(grep -c '^velmora-cli: could not be written, extraction stopped: .*: the disk is full' "$WORK/cli.err")" = 1 ] &&
        [ "$(grep -c '^velmora-cli: ' "$WORK/cli.err")" = 2 ] || { cat "$WORK/cli.err"; return 1; }
}

full_disk() {
    FULL=$WORK/full REFERENCE=$WORK/full-reference
    # About 1.5 MiB of random data: a job needs it once more for its
    # tarball and once more for its archive or files, 4.5 MiB of 8.
    make_random_tree "$REFERENCE/data" 2 "r1.bin=1000000" "inner/r2.bin=500000" "inner/deeper/r3.bin=40000"
    printf 'small\n' >"$REFERENCE/data/small.txt"
    make_random_tree "$REFERENCE/single" 3 "single.bin=1000000"
    cp "$REFERENCE/single/single.bin" "$REFERENCE/"
    make_archives "$REFERENCE/data" "$REFERENCE/packed" || { echo "FAIL full disk: the archives to extract could not be made"; failed=$((failed + 1)); return; }
    mkdir -p "$FULL"
    if ! mount -t tmpfs -o size=8m tmpfs "$FULL" 2>/dev/null; then
        skip "full disk (mounting a tmpfs refused)"
        return
    fi
    MOUNTS+=("$FULL")
    add_drive "$FULL" || { skip "full disk (no free drive letter)"; return; }
    local d=$DRIVE
    # About 1 MiB free: less than the archive.
    full_disk_case "zip of a folder" 1024 data data.zip zip data compress --format zip "$d\\data"
    # No room for the tarball of phase 1.
    full_disk_case "tzst of a folder, tarball" 1024 data data.tzst tzst data compress --format tzst "$d\\data"
    # Room for the tarball, not for the archive of phase 2.
    full_disk_case "tzst of a folder, archive" 2300 data data.tzst tzst data compress --format tzst "$d\\data"
    full_disk_case "zip of a file" 700 single.bin single.zip zip single compress --format zip "$d\\single.bin"
    full_disk_case "tzst of a file, archive" 1400 single.bin single.tzst tzst single compress --format tzst "$d\\single.bin"
    full_disk_case "zip extraction" 1024 packed.zip packed folder data decompress "$d\\packed.zip"
    # No room for the tarball of phase 1.
    full_disk_case "tzst extraction, tarball" 1024 packed.tzst packed folder data decompress "$d\\packed.tzst"
    # Room for the tarball, not for the files of phase 2.
    full_disk_case "tzst extraction, files" 2300 packed.tzst packed folder data decompress "$d\\packed.tzst"
}

# ---------------------------------------------------------------------------
# 3. Killed in each phase: the job runs in the background on ~80 MiB and
# gets SIGKILL once the file system shows it inside the phase.
KILLS=$WORK/kill

make_kill_tree() {
    # Mixed data: random, text-like (16 letters), half zeros; big files for
    # long phases and many small ones so extraction shows its progress.
    "$PYTHON" - "$KILLS/tree" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(3)
letters = bytes.maketrans(bytes(range(256)), b"etaoinshrdlu \n,."*16)
def data(kind, size):
    if kind == 0:
        return rnd.randbytes(size)
    if kind == 1:
        return rnd.randbytes(size).translate(letters)
    return rnd.randbytes(size // 2) + bytes(size - size // 2)
for i in range(24):
    size = 2000000 + rnd.randrange(2500000)
    path = os.path.join(root, "big%d" % (i % 3), "file%02d.dat" % i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data(i % 3, size))
for i in range(240):
    path = os.path.join(root, "small", "s%d" % (i % 6), "note%03d.txt" % i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data(i % 3, rnd.randrange(1, 40000)))
PY
}

none_of() { local path; for path; do [ ! -e "$path" ] || return 1; done; }
file_size() { stat -c %s "$1" 2>/dev/null || echo 0; }
file_count() { [ -d "$1" ] && find "$1" -type f | wc -l || echo 0; }

# Starts velmora-cli in the background, waits until the condition holds,
# and kills it. Sets $killed (1 when SIGKILL ended it, 0 when it ended first).
kill_when() {
    local deadline=$((SECONDS + JOB_SECONDS)) condition=$1; shift
    wine "$CLI" "$@" </dev/null >"$WORK/bg.out" 2>"$WORK/bg.err" &
    BACKGROUND=$!
    killed=0 KILLED_COMMAND=""
    while kill -0 "$BACKGROUND" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
        if $condition; then
            # The pid started with & is the Windows process itself (wine execs it).
            KILLED_COMMAND=$(tr '\0' ' ' 2>/dev/null <"/proc/$BACKGROUND/cmdline")
            kill -KILL "$BACKGROUND" 2>/dev/null
            break
        fi
        sleep 0.02
    done
    if [ "$SECONDS" -ge "$deadline" ]; then
        note "the job did not reach the phase in $JOB_SECONDS s"
        kill -KILL "$BACKGROUND" 2>/dev/null
    fi
    wait "$BACKGROUND" 2>/dev/null  # no "Killed" line from bash
    BACKGROUND_STATUS=$?
    [ "$BACKGROUND_STATUS" = 137 ] && killed=1
    BACKGROUND_PID=$BACKGROUND
    BACKGROUND=""
}

# The killed process is gone, no process of this run's jobs remains, and
# nothing writes to the folder any more.
job_is_gone() {
    local folder=$1 pid=$BACKGROUND_PID
    [[ "$KILLED_COMMAND" == *velmora-cli.exe* ]] || { note "the killed pid was '$KILLED_COMMAND'"; return 1; }
    [ ! -e "/proc/$pid" ] || { note "pid $pid still exists"; return 1; }
    local running
    running=$("$PYTHON" - "$TAG" <<'PY'
import os, sys
for pid in filter(str.isdigit, os.listdir("/proc")):
    try:
        words = open("/proc/%s/cmdline" % pid, "rb").read().decode(errors="replace").split("\0")
    except OSError:
        continue
    if int(pid) != os.getpid() and any(w.endswith("velmora-cli.exe") for w in words) and sys.argv[1] in " ".join(words):
        print(pid, " ".join(words))
PY
)
    [ -z "$running" ] || { note "still running: $running"; return 1; }
    local first second
    first=$(cd "$folder" && find . -printf '%p %s\n' | LC_ALL=C sort)
    sleep 0.3
    second=$(cd "$folder" && find . -printf '%p %s\n' | LC_ALL=C sort)
    [ "$first" = "$second" ] || { note "files still change after the kill"; return 1; }
}

# Conditions for the kills, one per phase.
TAR="" PARTIAL="" ZIP="" OUT=""
in_tarball_phase() { [ "$(file_size "$TAR")" -gt $((8 << 20)) ] && [ ! -e "$PARTIAL" ]; }
in_compressing_phase() { [ "$(file_size "$PARTIAL")" -gt $((4 << 20)) ]; }
zip_growing() { [ "$(file_size "$ZIP")" -gt $((8 << 20)) ]; }
in_decompressing_phase() { [ "$(file_size "$TAR")" -gt $((8 << 20)) ] && [ ! -d "$OUT" ]; }
files_appearing() { [ "$(file_count "$OUT")" -ge 3 ]; }

# After a kill: a failed check when the job ended by itself first or the
# kill came outside the phase; the checks that need the kill are then left
# out, and the group falls short of its plan.
caught() {
    local label=$1; shift
    check "$label: the kill came inside the phase" killed_inside "$@"
}
killed_inside() {
    if [ "$killed" = 0 ]; then
        note "the job ended by itself (exit $BACKGROUND_STATUS) before the kill"
        return 1
    fi
    "$@" || { note "the kill came outside the phase"; return 1; }
}

kill_tzst_compression() {
    local tree=$KILLS/tree label phase
    TAR=$KILLS/tree.tar.partial PARTIAL=$KILLS/tree.tzst.partial
    for phase in 1 2; do
        label="killed: tzst compression, phase $phase"
        rm -f "$KILLS/tree.tzst" "$KILLS"/tree.*partial*
        if [ $phase = 1 ]; then
            kill_when in_tarball_phase compress --format tzst "$(win "$tree")"
            caught "$label" test ! -e "$PARTIAL" || continue
        else
            kill_when in_compressing_phase compress --format tzst "$(win "$tree")"
            caught "$label" test -e "$PARTIAL" || continue
        fi
        check "$label: SIGKILL ended the job's process" job_is_gone "$KILLS"
        check "$label: the input is intact" test "$(fingerprint "$tree")" = "$TREE_PRINT"
        check "$label: no tree.tzst and no tree.tar" none_of "$KILLS/tree.tzst" "$KILLS/tree.tar"
        left_behind "$label" "$KILLS" tree archives
        cli compress --format tzst "$(win "$tree")"
        check "$label: the next run completes" exit_is 0
        check "$label: the next run's tree.tzst holds the input" round_trips "$KILLS/tree.tzst" "$tree"
        # The kill's leftovers keep their partial names; the next run adds none.
        check "$label: the next run leaves no tarball or partial of its own" \
            none_of "$KILLS/tree.tar" "$TAR"1 "$PARTIAL"1
        rm -f "$KILLS"/tree.*partial*
    done
    [ -e "$KILLS/tree.tzst" ] || cli compress --format tzst "$(win "$tree")"
    mv "$KILLS/tree.tzst" "$KILLS/archives/"
}

kill_zip_compression() {
    local tree=$KILLS/tree label="killed: zip compression"
    ZIP=$KILLS/tree.zip.partial
    rm -f "$KILLS"/tree.zip*
    kill_when zip_growing compress --format zip "$(win "$tree")"
    if caught "$label" true; then
        check "$label: SIGKILL ended the job's process" job_is_gone "$KILLS"
        check "$label: the input is intact" test "$(fingerprint "$tree")" = "$TREE_PRINT"
        check "$label: no tree.zip" test ! -e "$KILLS/tree.zip"
        left_behind "$label" "$KILLS" tree archives
        check_zip_left "$label" "$ZIP"
        rm -f "$ZIP"
    fi
    ZIP=$KILLS/tree.zip
    cli compress --format zip "$(win "$tree")"
    check "$label: the next run completes" exit_is 0
    check "$label: the next run's tree.zip passes unzip -t" unzip -tqq "$ZIP"
    check "$label: the next run's tree.zip holds the input" round_trips "$ZIP" "$tree"
    mv "$ZIP" "$KILLS/archives/"
}

# Evidence of where an extraction was killed.
before_folder() { [ ! -d "$OUT" ]; }
midway_through_files() { { [ -e "$TAR" ] || [ "${ARCHIVE##*.}" = zip ]; } && [ "$(file_count "$OUT")" -lt "$TREE_FILES" ]; }

# Kills an extraction once condition holds, then runs it again.
kill_extraction() {
    local label=$1 condition=$2 evidence=$3
    local folder
    folder=$(dirname "$ARCHIVE")
    local before
    before=$(fingerprint "$ARCHIVE")
    rm -rf "$OUT" "$TAR"*
    kill_when "$condition" decompress "$(win "$ARCHIVE")"
    if caught "$label" "$evidence"; then
        check "$label: SIGKILL ended the job's process" job_is_gone "$folder"
        check "$label: the archive is intact" test "$(fingerprint "$ARCHIVE")" = "$before"
        left_behind "$label" "$folder" tree.tzst tree.zip
    fi
    cli decompress "$(win "$ARCHIVE")"
    check "$label: the next run completes" exit_is 0
    check "$label: the next run gives back the tree" same_tree "$OUT" "$KILLS/tree"
}

kill_jobs() {
    mkdir -p "$KILLS/archives"
    make_kill_tree
    TREE_PRINT=$(fingerprint "$KILLS/tree")
    TREE_FILES=$(file_count "$KILLS/tree")
    note "killed jobs on $(du -sm "$KILLS/tree" | cut -f1) MiB in $(find "$KILLS/tree" -type f | wc -l) files"
    kill_tzst_compression
    kill_zip_compression
    OUT=$KILLS/archives/tree TAR=$KILLS/archives/tree.tar.partial
    ARCHIVE=$KILLS/archives/tree.tzst
    kill_extraction "killed: tzst extraction, phase 1" in_decompressing_phase before_folder
    kill_extraction "killed: tzst extraction, phase 2" files_appearing midway_through_files
    ARCHIVE=$KILLS/archives/tree.zip
    kill_extraction "killed: zip extraction" files_appearing midway_through_files
}

# ---------------------------------------------------------------------------
# 4. Loops in the tree: a link a/up -> .. and the folder bind-mounted inside
# itself at a/loop (the way a junction loop looks to a walk). Each file is
# stored once, and the report names both folders.
folder_loops() {
    local src=$WORK/loops/src
    mkdir -p "$src/a/loop"
    printf 'f\n' >"$src/a/f.txt"
    printf 'g\n' >"$src/g.txt"
    ln -s .. "$src/a/up"
    if ! mount --bind "$src" "$src/a/loop" 2>/dev/null; then
        skip "folder loops (mount --bind refused)"
        return
    fi
    MOUNTS+=("$src/a/loop")
    local format files
    for format in zip tzst; do
        cli compress --format "$format" "$(win "$src")"
        check "loops: $format exits 1" exit_is 1
        tr -d '\r' <"$WORK/cli.err" >"$WORK/cli.lines"
        check "loops: $format reports the link" grep -qx 'velmora-cli: link not followed: a/up/' "$WORK/cli.lines"
        check "loops: $format reports the loop" grep -qx 'velmora-cli: folder loop, left out: a/loop/' "$WORK/cli.lines"
        if [ "$format" = zip ]; then
            files=$(unzip -Z1 "$src.zip" | grep -v '/$' | LC_ALL=C sort | tr '\n' ' ')
        else
            files=$(tar --zstd -tf "$src.tzst" | grep -v '/$' | LC_ALL=C sort | tr '\n' ' ')
        fi
        check "loops: $format stores each file once ($files)" test "$files" = "a/f.txt g.txt "
    done
}

# ---------------------------------------------------------------------------
# 5. The console closed, logoff and shutdown in mid-job. Wine cannot send
# these events, so velmora-cli raises each at its own handler once its job
# writes, and then ends as Windows ends a process when the handler returns,
# with STATUS_CONTROL_C_EXIT (a test seam): what the job leaves must already
# be final. The files that come and go beside the input are watched, so the
# job is seen to have written a partial file before the end.

# Runs a command (its output as given) while watching a folder; writes the
# names created (+name) and removed (-name) there, in order, to a file, and
# exits with the command's status.
run_watching() {
    "$PYTHON" - "$@" <<'PY'
import ctypes, os, select, struct, subprocess, sys
events_file, folder, command = sys.argv[1], sys.argv[2], sys.argv[3:]
CREATED, DELETED, MOVED_FROM, MOVED_TO = 0x100, 0x200, 0x40, 0x80
libc = ctypes.CDLL(None, use_errno=True)
watch = libc.inotify_init1(os.O_NONBLOCK)
if watch < 0 or libc.inotify_add_watch(watch, folder.encode(), CREATED | DELETED | MOVED_FROM | MOVED_TO) < 0:
    sys.exit("inotify: " + os.strerror(ctypes.get_errno()))
events = []
def read_events(wait):
    while select.select([watch], [], [], wait)[0]:
        data, at = os.read(watch, 65536), 0
        while at < len(data):
            mask, length = struct.unpack_from("=4xI4xI", data, at)
            name = data[at + 16 : at + 16 + length].rstrip(b"\0").decode(errors="replace")
            events.append(("+" if mask & (CREATED | MOVED_TO) else "-") + name)
            at += 16 + length
job = subprocess.Popen(command, stdin=subprocess.DEVNULL)
while job.poll() is None:
    read_events(0.05)
read_events(0.2)
with open(events_file, "w") as f:
    f.write(" ".join(events))
sys.exit(job.returncode)
PY
}

wrote_and_removed_partial() {
    grep -qE '(^| )\+tree\.(tar|tzst|zip)\.partial( |$)' "$1" && grep -qE '(^| )-tree\.(tar|tzst|zip)\.partial( |$)' "$1"
}

STATUS_CONTROL_C_EXIT=58  # 0xC000013A, as the exit status Wine gives a Linux parent
console_events() {
    local event format label events left
    for event in 2 5 6; do
        for format in tzst zip; do
            label="console event $event, $format"
            rm -f "$KILLS/tree".*
            run_watching "$WORK/events" "$KILLS" timeout -s KILL "$JOB_SECONDS" wine "$CLI" \
                --raise-console-event "$event" compress --format "$format" "$(win "$KILLS/tree")" \
                >"$WORK/cli.out" 2>"$WORK/cli.err"
            rc=$?
            events=$(cat "$WORK/events")
            check "$label: the job wrote a partial file and removed it (${events:-nothing came})" \
                wrote_and_removed_partial "$WORK/events"
            check "$label: the process ended as the handler returned" exit_is $STATUS_CONTROL_C_EXIT
            check "$label: the handler's cancel reached the job" grep -q 'cancelled; no archive was made' "$WORK/cli.err"
            left=$(cd "$KILLS" && ls -d tree.* 2>/dev/null | tr '\n' ' ')
            check "$label: nothing left (${left:-nothing})" test -z "$left"
        done
    done
    check "console events: the inputs are intact" test "$(fingerprint "$KILLS/tree")" = "$TREE_PRINT"
}

group read_only_destination 14
group full_disk 48
group kill_jobs 37
group folder_loops 8
group console_events 25
echo "$passed passed, $failed failed, ${#skipped[@]} groups skipped (${skipped[*]}) in $((SECONDS - started)) s"
[ "$failed" = 0 ] || exit 1
[ ${#skipped[@]} = 0 ] || exit $SKIP_STATUS
