# The common start of the shell tests that drive velmora-cli: where the build
# and its Wine prefix are, a scratch folder that goes on exit, Windows paths,
# and the ok/FAIL counter. Sourced by bash with the scratch folder's name set:
#   WORK_NAME=cli . "$ROOT/tests/support/cli_checks.sh"
# makes $WORK as $SCRATCH/velmora-cli.XXXXXX (on /dev/shm when there is one).
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${VELMORA_BUILD_DIR:-$ROOT/build}
CLI=${VELMORA_CLI:-$BUILD/velmora-cli.exe}
export WINEPREFIX=${WINEPREFIX:-$BUILD/wineprefix} WINEDEBUG=-all
PYTHON=$(command -v /usr/bin/python3 || command -v python3)
SCRATCH=/dev/shm
[ -d "$SCRATCH" ] || SCRATCH=/tmp
WORK=$(mktemp -d "$SCRATCH/velmora-$WORK_NAME.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
passed=0 failed=0

# The Windows form of a Unix path, as Wine reads it.
win() { printf 'Z:%s' "${1//\//\\}"; }
# check NAME COMMAND...: counts and prints the command's success.
check() {
    local name=$1; shift
    if "$@"; then passed=$((passed + 1)); echo "ok   $name"; else failed=$((failed + 1)); echo "FAIL $name"; fi
}
# same_files REFERENCE OURS: the same files with the same bytes and the same
# folders; symbolic links, devices and fifos of the reference are not
# expected (bash).
same_files() {
    diff <(cd "$1" && find . -mindepth 1 \( -type f -o -type d \) | sort) \
         <(cd "$2" && find . -mindepth 1 | sort) || return 1
    (cd "$1" && find . -type f -print0) | while IFS= read -r -d '' f; do
        cmp -s "$1/$f" "$2/$f" || { echo "differs: $f"; return 1; }
    done
}
# tar_view ARCHIVE: GNU tar's view of a tarball as velmora-cli lists it,
# sorted: SIZE<TAB>NAME, folders ending in /, links as NAME -> TARGET of
# size 0 (bash).
tar_view() {
    tar -tvf "$1" | "$PYTHON" -c '
import sys
for line in sys.stdin:
    perms, owner, size, date, time, name = line.rstrip("\n").split(None, 5)
    if name.startswith("./"): name = name[2:]
    if not name or name == ".": continue
    if perms[0] in "dl": size = "0"
    print(size + "\t" + name)' | sort
}
