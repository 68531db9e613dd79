#!/bin/sh
# Installs what building and testing Velmora needs on a Debian 12 machine:
# the MinGW-w64 cross compiler, Wine, a virtual X server, CMake and Ninja,
# GoogleTest's sources, the source-package tools, the tools the tests make
# and read archives with (7-Zip, bsdtar, Info-ZIP, zstd, gzip, bzip2, xz,
# Python), and the fonts the program is seen with (fonts-wine draws Wine's
# window frames; fonts-noto-mono is the monospace font of a Debian desktop,
# which Wine takes for "Courier New").
# Run it as root or as a user who may use sudo: every step that changes the
# system goes through sudo then. Safe to run again: it does nothing when
# everything is already there.
set -eu

PACKAGES="g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
mingw-w64-x86-64-dev wine wine64 xvfb xauth cmake ninja-build dpkg-dev googletest \
fonts-wine fonts-noto-mono make git ca-certificates zstd zip unzip 7zip python3 libarchive-tools locales \
gzip bzip2 xz-utils"

# Source packages of Debian 12 for the dependencies built for Windows.
SRC_LIST=/etc/apt/sources.list.d/velmora-deb-src.sources

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
# The Japanese locale lets the tests run Wine under code page 932.
has_locale() { locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; }
[ -n "$missing" ] || [ ! -f "$SRC_LIST" ] || ! has_locale || exit 0

if [ "$(id -u)" = 0 ]; then
    as_root() { "$@"; }
elif command -v sudo >/dev/null 2>&1; then
    as_root() { sudo "$@"; }
else
    echo "install-toolchain: installing packages and apt sources needs root;" \
        "run this as root or as a user who may use sudo" >&2
    exit 1
fi

if [ ! -f "$SRC_LIST" ]; then
    as_root tee "$SRC_LIST" >/dev/null <<'LIST'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
LIST
fi

as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
if [ -n "$missing" ]; then
    echo "installing:$missing"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
fi
has_locale || as_root localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
