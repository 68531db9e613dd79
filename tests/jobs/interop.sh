#!/bin/bash
# Archives made by velmora-cli are read by GNU tar with zstd, unzip and
# Python's tarfile/zipfile with every name and byte equal; archives made by
# those tools (zips without folder entries, UTF-8 and code page 437 names,
# tarballs without folder entries) are extracted by velmora-cli whole.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${VELMORA_BUILD_DIR:-$ROOT/build}
export WINEPREFIX=${WINEPREFIX:-$BUILD/wineprefix} WINEDEBUG=-all
PYTHON=$(command -v /usr/bin/python3 || command -v python3)
WORK=$(mktemp -d /tmp/velmora-interop.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
passed=0 failed=0

cli() { wine "$BUILD/velmora-cli.exe" "$@" </dev/null; }
win() { winepath -w "$1"; }
check() {
    local name=$1; shift
    if "$@"; then passed=$((passed + 1)); echo "ok   $name"; else failed=$((failed + 1)); echo "FAIL $name"; fi
}

# A tree with empty folders, empty files, nesting, spaces, dots, non-ASCII names.
"$PYTHON" - "$WORK/src/tree" <<'PY'
import os, sys, random
root = sys.argv[1]
random.seed(5)
files = {
    "zero.txt": b"",
    "notes v1.2.txt": b"version one point two\n",
    "nested/deeper/leaf.bin": bytes(random.getrandbits(8) for _ in range(70000)),
    "nested/r\u00e9sum\u00e9 \u65e5\u672c.txt": "non-ASCII name\n".encode(),
    "nested/big.dat": b"abcdefgh" * 40000,
    ".hidden": b"dot file",
}
for name, data in files.items():
    path = os.path.join(root, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
os.makedirs(os.path.join(root, "empty folder"), exist_ok=True)
PY

same_tree() { diff -r "$1" "$2" >/dev/null && [ "$(cd "$1" && find . | sort)" = "$(cd "$2" && find . | sort)" ]; }

# velmora-cli -> GNU tar, zstd, Python tarfile
cli compress --format tzst "$(win "$WORK/src/tree")" >/dev/null
check "tzst is one valid zstd frame" zstd -q -t "$WORK/src/tree.tzst"
mkdir -p "$WORK/gnutar"
check "GNU tar extracts the tzst" tar --zstd -xf "$WORK/src/tree.tzst" -C "$WORK/gnutar"
check "GNU tar gives the same tree" same_tree "$WORK/src/tree" "$WORK/gnutar"
check "Python tarfile reads the same names and bytes" "$PYTHON" - "$WORK/src/tree.tzst" "$WORK/src/tree" <<'PY'
import io, os, sys, subprocess, tarfile
data = subprocess.run(["zstd", "-d", "-c", sys.argv[1]], capture_output=True, check=True).stdout
with tarfile.open(fileobj=io.BytesIO(data)) as t:
    for m in t.getmembers():
        path = os.path.join(sys.argv[2], m.name)
        if m.isdir():
            assert os.path.isdir(path), m.name
        else:
            assert open(path, "rb").read() == t.extractfile(m).read(), m.name
PY

# velmora-cli -> unzip, 7-Zip, Python zipfile
cli compress --format zip "$(win "$WORK/src/tree")" >/dev/null
check "unzip tests the zip" unzip -tq "$WORK/src/tree.zip"
# Info-ZIP lists the names as they are, non-ASCII ones included.
unzip_names() {
    LC_ALL=C.UTF-8 unzip -Z1 "$WORK/src/tree.zip" | sort >"$WORK/unzip-names"
    (cd "$WORK/src/tree" && find . -mindepth 1 -type d -printf '%P/\n' -o -mindepth 1 -printf '%P\n') | sort >"$WORK/disk-names"
    diff "$WORK/unzip-names" "$WORK/disk-names"
}
check "unzip lists every name as it is on disk" unzip_names
# 7-Zip tests every entry and finds nothing to warn about (a date of day 0
# made it report a headers error).
seven_zip_clean() {
    7zz t "$WORK/src/tree.zip" >"$WORK/7zz.out" 2>&1 || { cat "$WORK/7zz.out"; return 1; }
    grep -q "^Everything is Ok" "$WORK/7zz.out" && ! grep -qi -E "warning|error" "$WORK/7zz.out" || { cat "$WORK/7zz.out"; return 1; }
}
check "7-Zip tests the zip without a warning" seven_zip_clean
check "Python zipfile reads the same names, bytes and UTF-8 flags" "$PYTHON" - "$WORK/src/tree.zip" "$WORK/src/tree" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    assert z.testzip() is None
    names = set()
    for info in z.infolist():
        names.add(info.filename.rstrip("/"))
        if not info.filename.isascii():
            assert info.flag_bits & 0x800, info.filename
        path = os.path.join(sys.argv[2], info.filename)
        if info.filename.endswith("/"):
            assert os.path.isdir(path), info.filename
        else:
            assert open(path, "rb").read() == z.read(info), info.filename
    on_disk = set()
    for folder, dirs, files in os.walk(sys.argv[2]):
        for n in dirs + files:
            on_disk.add(os.path.relpath(os.path.join(folder, n), sys.argv[2]))
    assert names == on_disk, (names ^ on_disk)
PY

# GNU tar (no folder entries) -> velmora-cli
mkdir -p "$WORK/foreign"
(cd "$WORK/src/tree" && tar -cf - "nested/deeper/leaf.bin" "nested/r"*".txt" zero.txt | zstd -q -o "$WORK/foreign/plain.tzst")
cli decompress "$(win "$WORK/foreign/plain.tzst")" >/dev/null
check "a tarball without folder entries extracts whole" cmp -s "$WORK/src/tree/nested/deeper/leaf.bin" "$WORK/foreign/plain/nested/deeper/leaf.bin"
check "non-ASCII tar names survive" test -f "$WORK/foreign/plain/nested/r"$'\xc3\xa9'"sum"$'\xc3\xa9'" "$'\xe6\x97\xa5\xe6\x9c\xac'".txt"

# Python zipfile (no folder entries, UTF-8 and code page 437 names) -> velmora-cli
"$PYTHON" - "$WORK/foreign/py.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("a/b/c.txt", b"no folder entries")
    z.writestr("\u00fcber/\u65e5\u672c.txt", b"utf-8 name")
    z.writestr("cafX.txt", b"code page 437 name")
data = bytearray(open(sys.argv[1], "rb").read())
# Rename cafX.txt to caf\x82.txt (e-acute in code page 437) without the UTF-8 flag.
count = 0
while True:
    at = data.find(b"cafX.txt")
    if at < 0:
        break
    data[at:at + 8] = b"caf\x82.txt"
    count += 1
assert count == 2
open(sys.argv[1], "wb").write(bytes(data))
PY
cli decompress "$(win "$WORK/foreign/py.zip")" >/dev/null
check "a zip without folder entries extracts whole" test "$(cat "$WORK/foreign/py/a/b/c.txt")" = "no folder entries"
check "UTF-8 zip names survive" test -f "$WORK/foreign/py/"$'\xc3\xbc'"ber/"$'\xe6\x97\xa5\xe6\x9c\xac'".txt"
check "code page 437 zip names become UTF-8" test -f "$WORK/foreign/py/caf"$'\xc3\xa9'".txt"

# Info-ZIP zip -> velmora-cli
(cd "$WORK/src" && zip -qr -1 "$WORK/foreign/infozip.zip" tree)
cli decompress "$(win "$WORK/foreign/infozip.zip")" >/dev/null
check "an Info-ZIP archive extracts whole" same_tree "$WORK/src/tree" "$WORK/foreign/infozip/tree"

# What velmora-cli says: its usage on --help; on failure, each entry it could
# not handle and what was left under the output's name.
help_is_usage() { [ "$(cli --help | head -n 1)" = "usage: velmora-cli [OPTIONS] COMMAND ..." ]; }
check "velmora-cli --help prints the usage and exits 0" help_is_usage
printf hello | zstd -q >"$WORK/foreign/notar.tzst"
notar_is_reported() {
    ! cli decompress "$(win "$WORK/foreign/notar.tzst")" >/dev/null 2>"$WORK/notar.err" &&
        grep -q "^velmora-cli: tarball could not be read, kept: .*notar.tar" "$WORK/notar.err" &&
        grep -q "^velmora-cli: nothing was extracted" "$WORK/notar.err" &&
        [ "$(cat "$WORK/foreign/notar.tar")" = hello ] || { cat "$WORK/notar.err"; return 1; }
}
check "a zstd stream that holds no tarball is kept and reported" notar_is_reported

root_is_refused_with_a_reason() {
    ! cli compress 'Z:\' >/dev/null 2>"$WORK/root.err" &&
        grep -q '^velmora-cli: a drive or share root cannot be compressed; choose a folder in it: Z:\\' "$WORK/root.err" &&
        [ ! -e /.tar.partial ] && [ ! -e /.zip.partial ] || { cat "$WORK/root.err"; return 1; }
}
check "a drive root is refused with the reason" root_is_refused_with_a_reason

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
