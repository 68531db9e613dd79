#!/bin/sh
# Installs what building and testing Velmora needs on a Debian 12 machine:
# the MinGW-w64 cross compiler, Wine, a virtual X server, CMake and Ninja,
# GoogleTest's sources and the source-package tools. Safe to run again: it
# does nothing when everything is already there.
set -eu

PACKAGES="g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
mingw-w64-x86-64-dev wine wine64 xvfb xauth cmake ninja-build dpkg-dev googletest \
fonts-wine make git ca-certificates zstd zip unzip 7zip python3"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

SRC_LIST=/etc/apt/sources.list.d/velmora-deb-src.sources
need_update=0
if [ ! -f "$SRC_LIST" ]; then
    # Source packages of Debian 12 for the dependencies built for Windows.
    cat > "$SRC_LIST" <<'LIST'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
LIST
    need_update=1
fi

if [ -n "$missing" ] || [ "$need_update" = 1 ]; then
    SUDO=""
    [ "$(id -u)" = 0 ] || SUDO=sudo
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    if [ -n "$missing" ]; then
        echo "installing:$missing"
        $SUDO apt-get install -y -q --no-install-recommends $missing
    fi
fi
