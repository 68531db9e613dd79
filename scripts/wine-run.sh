#!/bin/sh
# Runs a Windows program of this build tree under Wine, in the build tree's
# own Wine prefix. Used by ctest as the cross-compiling emulator.
set -eu
BUILD_DIR=${VELMORA_BUILD_DIR:-$(cd "$(dirname "$0")/.." && pwd)/build}
export WINEPREFIX="${WINEPREFIX:-$BUILD_DIR/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
