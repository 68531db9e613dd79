#!/bin/sh
# Tests the release under Wine on a virtual display: the portable zip runs
# with its files in its portable folder; the installer installs silently,
# the installed program starts, and the uninstaller removes it again.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
sh scripts/wine-prefix.sh
export WINEPREFIX="$ROOT/build/wineprefix" WINEDEBUG=-all
wineserver -p >/dev/null 2>&1 || true
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
DIST="$ROOT/build/dist"
WORK=$(mktemp -d /tmp/velmora-dist.XXXXXX)
# The server started above keeps this display's screen: stop it with the
# checks, so that no later run on another display joins it.
trap 'rm -rf "$WORK"; wineserver -k >/dev/null 2>&1 || true' EXIT
SHOT="$(winepath -w "$ROOT/build/velmora-screenshot.exe")"
failed=0

# Starts a program, waits for the main window titled "Velmora", stops it.
starts() {
    wine "$1" </dev/null >/dev/null 2>&1 &
    pid=$!
    ok=1
    for _ in $(seq 1 60); do
        sleep 0.5
        if wine "$SHOT" "$(winepath -w "$WORK/shot.png")" Velmora >/dev/null 2>&1; then ok=0; break; fi
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    sleep 1
    return $ok
}

check() {
    if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failed=1; fi
}

(cd "$WORK" && unzip -q "$DIST/velmora-1.17-x64-portable.zip")
PORTABLE="$WORK/velmora-1.17-x64"
name="the portable zip holds the program, its files and a portable folder"
check test -f "$PORTABLE/velmora.exe" -a -f "$PORTABLE/velmora-cli.exe" -a -f "$PORTABLE/license.txt" -a -d "$PORTABLE/portable"
name="the portable program starts"
check starts "$PORTABLE/velmora.exe"
name="and keeps its files in its portable folder"
check test -f "$PORTABLE/portable/preferences-default.txt"

PROGRAM="$WINEPREFIX/drive_c/Program Files/Velmora"
wine "$DIST/velmora-1.17-x64-setup.exe" /S </dev/null >/dev/null 2>&1
name="the installer installs silently into Program Files"
check test -f "$PROGRAM/velmora.exe" -a -f "$PROGRAM/uninstall.exe"
SHORTCUT="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Velmora/Velmora.lnk"
name="with a Start-menu shortcut"
check test -f "$SHORTCUT"
# The "Start in" folder of a shortcut file (its working-directory string).
start_folder() {
    python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
flags = struct.unpack_from("<I", data, 20)[0]
at = 76
if flags & 0x1:  # a target ID list
    at += 2 + struct.unpack_from("<H", data, at)[0]
if flags & 0x2:  # link information
    at += struct.unpack_from("<I", data, at)[0]
def text():
    global at
    count = struct.unpack_from("<H", data, at)[0]
    at += 2
    size = count * 2 if flags & 0x80 else count
    value = data[at:at + size].decode("utf-16-le" if flags & 0x80 else "latin-1")
    at += size
    return value
folder = ""
for bit in (0x4, 0x8, 0x10):  # name, relative path, working directory
    if flags & bit:
        value = text()
        if bit == 0x10:
            folder = value
print(folder)
PY
}
name="which starts Velmora in the user's own folder"
check test "$(start_folder "$SHORTCUT")" = "%USERPROFILE%"
name="the installed program starts"
check starts "$PROGRAM/velmora.exe"
wine "$PROGRAM/uninstall.exe" /S </dev/null >/dev/null 2>&1
for _ in $(seq 1 40); do [ -e "$PROGRAM/velmora.exe" ] || break; sleep 0.5; done
name="the uninstaller removes it"
check test ! -e "$PROGRAM/velmora.exe"

[ "$failed" = 0 ] && echo "release checks passed"
exit $failed
