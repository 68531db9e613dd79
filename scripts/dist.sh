#!/bin/sh
# Builds the release: build/dist/velmora-1.17-x64-portable.zip (the program,
# the console companion, the three text files and an empty portable folder)
# and build/dist/velmora-1.17-x64-setup.exe (an NSIS installer).
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
sh scripts/build.sh
if ! command -v makensis >/dev/null || ! command -v zip >/dev/null; then
    SUDO=""
    [ "$(id -u)" = 0 ] || SUDO=sudo
    # (sudo drops the environment: the setting goes on its command line)
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends nsis zip
fi
VERSION=1.17
DIST=build/dist
STAGE=$DIST/velmora-$VERSION-x64
rm -rf "$DIST"
mkdir -p "$STAGE/portable"
cp build/velmora.exe build/velmora-cli.exe build/documentation.txt build/changelog.txt build/license.txt "$STAGE/"
(cd "$DIST" && zip -q -r -X "velmora-$VERSION-x64-portable.zip" "velmora-$VERSION-x64")
rm -rf "$STAGE/portable"
makensis -V2 -DDIST="$ROOT/$STAGE" -DICON="$ROOT/build/generated/velmora.ico" \
    -DOUTFILE="$ROOT/$DIST/velmora-$VERSION-x64-setup.exe" scripts/velmora.nsi
rm -rf "$STAGE"
ls -l "$DIST"
if [ -n "${DISPLAY:-}" ]; then
    sh scripts/test-dist.sh
else
    xvfb-run -a -s "-screen 0 1024x768x24" sh scripts/test-dist.sh
fi
