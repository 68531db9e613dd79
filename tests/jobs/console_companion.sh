#!/bin/bash
# velmora-cli as a script uses it: list and test beside GNU tar's own view
# of the same archives, -o in both directions, progress lines in a file,
# --quiet, and every exit code from a real case.
set -euo pipefail
WORK_NAME=cli . "$(dirname "$0")/../support/cli_checks.sh"

# Runs velmora-cli with the rest of the line; its stdout goes to $WORK/out,
# its stderr to $WORK/err, its exit code to $WORK/rc.
cli() {
    local rc=0
    wine "$CLI" "$@" </dev/null >"$WORK/out" 2>"$WORK/err" || rc=$?
    echo "$rc" >"$WORK/rc"
}
exit_is() { [ "$(cat "$WORK/rc")" = "$1" ] || { echo "exit code $(cat "$WORK/rc"), not $1"; cat "$WORK/err"; return 1; }; }
said() { grep -qF -- "$1" "$WORK/err" || { echo "missing: $1"; cat "$WORK/err"; return 1; }; }
listing() { (cd "$1" && find . | sort); }

IN=$WORK/in
mkdir -p "$IN/sub/empty"
printf 'alpha\n' >"$IN/a.txt"
: >"$IN/zero.txt"
head -c 3000000 /dev/urandom >"$IN/sub/random.bin"
printf 'non-ASCII\n' >"$IN/sub/r"$'\xc3\xa9'"sum"$'\xc3\xa9'".txt"
ln -s a.txt "$IN/sub/link"

# ---------------------------------------------------------------------------
# 1. list shows what GNU tar shows: size and name of every entry (folders
# end in /, links read NAME -> TARGET), for GNU tar's archive and Velmora's.
tar --zstd -cf "$WORK/gnu.tar.zst" -C "$IN" .
cli list "$(win "$WORK/gnu.tar.zst")"
check "list, GNU tar's .tar.zst: exit 0" exit_is 0
check "list, GNU tar's .tar.zst: the entries tar -tvf shows" diff <(tar_view "$WORK/gnu.tar.zst") <(sort "$WORK/out")
cp -r "$IN" "$WORK/pack"
rm "$WORK/pack/sub/link"
cli compress --format tzst "$(win "$WORK/pack")"
cli list "$(win "$WORK/pack.tzst")"
check "list, Velmora's .tzst: the entries tar -tvf shows" diff <(tar_view "$WORK/pack.tzst") <(sort "$WORK/out")
zstd -q -c "$IN/sub/random.bin" >"$WORK/random.bin.zst"
cli list "$(win "$WORK/random.bin.zst")"
check "list, a single .zst: the file it unpacks to, with its size" test "$(cat "$WORK/out")" = $'3000000\trandom.bin'

# ZIP archives, listed beside Info-ZIP's own view (zipinfo): one Info-ZIP
# made and one Velmora made.
zip_view() {
    zipinfo "$1" | "$PYTHON" -c '
import sys
for line in sys.stdin:
    fields = line.rstrip("\n").split(None, 8)
    if len(fields) < 9 or not fields[1].replace(".", "").isdigit(): continue
    size = "0" if fields[8].endswith("/") else fields[3]
    print(size + "\t" + fields[8])' | sort
}
(cd "$WORK/pack" && zip -q -r "$WORK/info.zip" .)
cli list "$(win "$WORK/info.zip")"
check "list, Info-ZIP's .zip: the entries zipinfo shows" diff <(zip_view "$WORK/info.zip") <(sort "$WORK/out")
cli compress --format zip "$(win "$WORK/pack")"
cli list "$(win "$WORK/pack.zip")"
check "list, Velmora's .zip: the entries zipinfo shows" diff <(zip_view "$WORK/pack.zip") <(sort "$WORK/out")
check "list, Velmora's .zip: the names unzip -Z1 gives" diff <(unzip -Z1 "$WORK/pack.zip" | sort) <(cut -f2 "$WORK/out" | sort)

# ---------------------------------------------------------------------------
# 2. test reads everything and writes nothing: sound archives pass, one
# cut short and one with a byte flipped name the entry that is bad.
head -c 1500000 "$WORK/gnu.tar.zst" >"$WORK/cut.tzst"
cp "$WORK/info.zip" "$WORK/flipped.zip"
"$PYTHON" - "$WORK/flipped.zip" <<'PY'
import sys, zipfile
path = sys.argv[1]
info = zipfile.ZipFile(path).getinfo("sub/random.bin")
data = bytearray(open(path, "rb").read())
at = info.header_offset + 30 + len(info.filename.encode()) + len(info.extra) + info.compress_size // 2
data[at] ^= 0x40
open(path, "wb").write(data)
PY
before=$(listing "$WORK")
cli test "$(win "$WORK/gnu.tar.zst")"
check "test, sound: exit 0" exit_is 0
check "test, sound: every entry counted" grep -qF "8 entries tested, all sound" "$WORK/out"
cli test "$(win "$WORK/cut.tzst")"
check "test, cut short: exit 1" exit_is 1
check "test, cut short: the entry is named" said "damaged: sub/random.bin (cut short)"
cli test "$(win "$WORK/info.zip")"
check "test, sound ZIP: exit 0" exit_is 0
cli test "$(win "$WORK/flipped.zip")"
check "test, a flipped byte: exit 1" exit_is 1
check "test, a flipped byte: the entry is named" grep -qE "^damaged: sub/random.bin \((CRC-32 mismatch|its data is damaged or cut short)\)$" "$WORK/err"
check "test, a flipped byte: the rest is sound" grep -qF "entries tested: 1 damaged, 0 not tested" "$WORK/err"
check "test: nothing is written" test "$(listing "$WORK" | grep -v -e '^./out$' -e '^./err$' -e '^./rc$')" = \
    "$(echo "$before" | grep -v -e '^./out$' -e '^./err$' -e '^./rc$')"

# ---------------------------------------------------------------------------
# 3. -o: an archive unpacks into a folder of the script's choosing (made
# with its parents), and a new archive goes where the script says.
cli decompress -o "$(win "$WORK/chosen/deeper")" "$(win "$WORK/pack.tzst")"
check "decompress -o: exit 0" exit_is 0
check "decompress -o: the folder holds the archive's tree" diff -r "$WORK/pack" "$WORK/chosen/deeper"
check "decompress -o: nothing beside the archive" test ! -e "$WORK/pack.tar" -a ! -e "$WORK/pack/pack"
cli compress -o "$(win "$WORK/made/backup.tar.zst")" "$(win "$WORK/pack")"
check "compress -o into a folder that does not exist: exit 3" exit_is 3
mkdir -p "$WORK/made"
cli compress -o "$(win "$WORK/made/backup.tar.zst")" "$(win "$WORK/pack")"
check "compress -o: exit 0" exit_is 0
check "compress -o: GNU tar reads the archive" diff <(tar_view "$WORK/made/backup.tar.zst") <(tar_view "$WORK/pack.tzst")
for bad in "backup.zip" "backup.tar"; do
    cli compress --format tzst -o "$(win "$WORK/made/$bad")" "$(win "$WORK/pack")"
    check "compress -o $bad with --format tzst: exit 2" exit_is 2
    check "compress -o $bad: no archive" test ! -e "$WORK/made/$bad"
done

# ---------------------------------------------------------------------------
# 4. Progress lines in a file (no carriage returns, the phase's words and a
# percentage), and --quiet, which prints nothing but errors.
cli --progress compress --format tzst -o "$(win "$WORK/made/progress.tzst")" "$(win "$WORK/pack")"
progress_lines() {
    ! grep -q $'\r' "$WORK/err" && grep -qE '^Writing tarball \(1/2\) [0-9]+% \([0-9]+/[0-9]+ files\)$' "$WORK/err" &&
        grep -qE '^Compressing \(2/2\) [0-9]+%$' "$WORK/err" || { cat -A "$WORK/err"; return 1; }
}
check "--progress: lines with the phase's words and a percentage" progress_lines
cli --quiet decompress -o "$(win "$WORK/quiet")" "$(win "$WORK/pack.tzst")"
check "--quiet: exit 0 and nothing printed" test "$(cat "$WORK/rc")$(cat "$WORK/out" "$WORK/err")" = 0

# ---------------------------------------------------------------------------
# 5. Exit codes, each from a real case.
cli decompress "$(win "$WORK/gnu.tar.zst")"
check "exit 1: an entry left out (the symbolic link)" exit_is 1
check "exit 1: the link is named" said "symbolic link not created: sub\\link -> a.txt"
cli compress --fast "$(win "$WORK/pack")"
check "exit 2: an unknown option" exit_is 2
printf 'text' >"$WORK/notes.txt"
cli list "$(win "$WORK/notes.txt")"
check "exit 2: a file of no kind Velmora unpacks" exit_is 2
check "exit 2: the message names every kind, from the one table" said \
    "velmora-cli: the archive must end in one of .zip, .tzst, .tar.zst, .tar.zstd, .zst, .zstd, .tar, .tar.gz, .tgz, .tar.bz2, .tbz2, .tbz, .tar.xz, .txz, .7z, .rar, .gz, .bz2 and .xz: $(win "$WORK/notes.txt")"
cli --raise-console-event 7 decompress "$(win "$WORK/pack.tzst")"
check "exit 2: a console event Windows never sends" exit_is 2
printf 'not an archive' >"$WORK/junk.zip"
cli decompress "$(win "$WORK/junk.zip")"
check "exit 3: an archive that is no archive" exit_is 3
check "exit 3: nothing unpacked from it" test ! -e "$WORK/junk"
cli decompress "$(win "$WORK/missing.zip")"
check "exit 3: a missing archive" exit_is 3
cp "$WORK/pack.tzst" "$WORK/photos.tzst"
printf 'a file' >"$WORK/photos"
cli decompress "$(win "$WORK/photos.tzst")"
check "exit 3: a file has the destination's name" exit_is 3
check "exit 3: the summary says what happened" said \
    "velmora-cli: nothing was extracted: the folder photos could not be made, a file has that name"
head -c 200000000 /dev/urandom >"$WORK/big.bin"
wine "$CLI" compress --format zip "$(win "$WORK/big.bin")" </dev/null >"$WORK/out" 2>"$WORK/err" &
waiter=$!
for _ in $(seq 100); do [ -e "$WORK/big.zip.partial" ] && break; sleep 0.1; done
cancelled() {
    # Wine runs the program in the process it started, and turns SIGINT
    # into the console's Ctrl+C for it.
    kill -INT "$waiter"
    local rc=0
    wait "$waiter" || rc=$?
    [ "$rc" = 4 ] && [ ! -e "$WORK/big.zip.partial" ] && [ ! -e "$WORK/big.zip" ] || { echo "rc $rc"; cat "$WORK/err"; ls "$WORK"; return 1; }
}
check "exit 4: Ctrl+C cancels, and no partial archive stays" cancelled

# ---------------------------------------------------------------------------
# 6. --help names every command and option.
cli --help
help_names_everything() {
    local word
    for word in "compress" "decompress" "list ARCHIVE" "test ARCHIVE" "copy-through" "entry-walk" "-o ARCHIVE" \
        "-o FOLDER" "--format" "--level" "--checksum" "--keep-tarball" "--progress" "--quiet" "--stats" \
        "--raise-console-event" "DESTINATION is replaced" "exit codes"; do
        grep -qF -- "$word" "$WORK/out" || { echo "missing: $word"; return 1; }
    done
}
check "--help names every command and option" help_names_everything

# ---------------------------------------------------------------------------
# 7. A script starts velmora-cli once per job: it loads none of the window,
# dialog or drawing libraries, whose loading costs more than a small job.
window_libraries() {
    local found
    found=$(x86_64-w64-mingw32-objdump -p "$CLI" | grep -ioE "DLL Name: (comctl32|comdlg32|gdi32|uxtheme)\.dll" || true)
    [ -z "$found" ] || { echo "$found"; return 1; }
}
check "velmora-cli loads no window, dialog or drawing library" window_libraries

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
