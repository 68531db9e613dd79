#!/bin/sh
# Installs what is missing, builds the dependencies (once per machine) and
# builds Velmora into build/.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
sh scripts/install-toolchain.sh
DEPS=$(sh scripts/build-deps.sh | tail -n 1)
if [ ! -f build/build.ninja ] || ! grep -q "^VELMORA_DEPS:PATH=$DEPS\$" build/CMakeCache.txt; then
    cmake -S . -B build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" -DVELMORA_DEPS="$DEPS"
fi
cmake --build build -j "$(nproc)"
