#!/bin/sh
# Builds the libraries Velmora links statically (cJSON, Zstandard, libarchive,
# zlib with minizip) and GoogleTest for 64-bit Windows, from Debian 12's own
# source packages, into a cache folder outside the work tree. The folder's
# name carries a hash of this script and of the toolchain file, so a change to
# either builds a fresh set while an unchanged one is reused. Prints the
# folder's path as its last line.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
TOOLCHAIN="$ROOT/cmake/mingw-w64.cmake"
HASH=$(cat "$0" "$TOOLCHAIN" | sha256sum | cut -c1-12)
CACHE="${VELMORA_CACHE:-$HOME/.cache/velmora}"
PREFIX="$CACHE/deps-$HASH"

if [ -f "$PREFIX/.complete" ]; then
    echo "$PREFIX"
    exit 0
fi

JOBS=$(nproc)
WORK="$CACHE/build-$HASH"
rm -rf "$WORK" "$PREFIX"
mkdir -p "$WORK" "$PREFIX/include" "$PREFIX/lib" "$PREFIX/licenses"
cd "$WORK"

CC=x86_64-w64-mingw32-gcc-posix
AR=x86_64-w64-mingw32-ar
CFLAGS="-O2"

# Fetches a source package: the newest version the archive offers, or the
# Debian 12 release version when the newest cannot be had.
fetch() {
    name=$1 fallback=$2
    mkdir -p "src-$name"
    if ! (cd "src-$name" && apt-get source -q "$name" >/dev/null 2>&1); then
        rm -rf "src-$name"; mkdir -p "src-$name"
        (cd "src-$name" && apt-get source -q "$name=$fallback" >/dev/null)
    fi
    find "$WORK/src-$name" -mindepth 1 -maxdepth 1 -type d | head -n 1
}

cmake_build() {
    src=$1 build=$2; shift 2
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_INSTALL_PREFIX="$PREFIX" "$@" >/dev/null
}

echo "velmora deps: cJSON" >&2
CJSON=$(fetch cjson 1.7.15-1)
$CC $CFLAGS -c "$CJSON/cJSON.c" -o cJSON.o
$AR rcs "$PREFIX/lib/libcjson.a" cJSON.o
cp "$CJSON/cJSON.h" "$PREFIX/include/"
cp "$CJSON/LICENSE" "$PREFIX/licenses/cJSON.txt"

echo "velmora deps: Zstandard" >&2
ZSTD=$(fetch libzstd 1.5.4+dfsg2-5)
cmake_build "$ZSTD/build/cmake" zstd-build -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_STATIC=ON \
    -DZSTD_BUILD_PROGRAMS=OFF -DZSTD_BUILD_TESTS=OFF -DZSTD_BUILD_CONTRIB=OFF \
    -DZSTD_MULTITHREAD_SUPPORT=OFF -DZSTD_LEGACY_SUPPORT=OFF
cmake --build zstd-build -j "$JOBS" --target libzstd_static >/dev/null
cp zstd-build/lib/libzstd.a "$PREFIX/lib/"
cp "$ZSTD/lib/zstd.h" "$ZSTD/lib/zstd_errors.h" "$PREFIX/include/"
cp "$ZSTD/LICENSE" "$PREFIX/licenses/zstd.txt"

echo "velmora deps: zlib and minizip" >&2
ZLIB=$(fetch zlib 1:1.2.13.dfsg-1)
cmake_build "$ZLIB" zlib-build
cmake --build zlib-build -j "$JOBS" --target zlibstatic >/dev/null
cp zlib-build/libzlibstatic.a "$PREFIX/lib/libz.a"
cp "$ZLIB/zlib.h" zlib-build/zconf.h "$PREFIX/include/"
mkdir -p "$PREFIX/include/minizip" minizip-obj
for f in zip unzip ioapi iowin32; do
    $CC $CFLAGS -I"$PREFIX/include" -c "$ZLIB/contrib/minizip/$f.c" -o "minizip-obj/$f.o"
    cp "$ZLIB/contrib/minizip/$f.h" "$PREFIX/include/minizip/"
done
cp "$ZLIB/contrib/minizip/crypt.h" "$PREFIX/include/minizip/"
$AR rcs "$PREFIX/lib/libminizip.a" minizip-obj/*.o
sed -n '/Copyright/,/madler/p' "$ZLIB/zlib.h" | sed 's/^  //' > "$PREFIX/licenses/zlib.txt"
sed -n '/Copyright/,/^\*\//p' "$ZLIB/contrib/minizip/zip.h" > "$PREFIX/licenses/minizip.txt"

echo "velmora deps: libarchive" >&2
ARCHIVE=$(fetch libarchive 3.6.2-1)
cmake_build "$ARCHIVE" archive-build -DBUILD_SHARED_LIBS=OFF -DENABLE_TEST=OFF \
    -DENABLE_TAR=OFF -DENABLE_CPIO=OFF -DENABLE_CAT=OFF -DENABLE_UNZIP=OFF \
    -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_NETTLE=OFF -DENABLE_LIBB2=OFF \
    -DENABLE_LZ4=OFF -DENABLE_LZO=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_ZLIB=OFF \
    -DENABLE_BZip2=OFF -DENABLE_LIBXML2=OFF -DENABLE_EXPAT=OFF -DENABLE_PCREPOSIX=OFF \
    -DENABLE_PCRE2POSIX=OFF -DENABLE_LIBGCC=OFF -DENABLE_CNG=OFF -DENABLE_XATTR=OFF \
    -DENABLE_ACL=OFF -DENABLE_ICONV=OFF -DENABLE_COVERAGE=OFF -DENABLE_WERROR=OFF \
    -DPOSIX_REGEX_LIB=NONE
cmake --build archive-build -j "$JOBS" --target archive_static >/dev/null
cp archive-build/libarchive/libarchive_static.a "$PREFIX/lib/libarchive.a"
cp "$ARCHIVE/libarchive/archive.h" "$ARCHIVE/libarchive/archive_entry.h" "$PREFIX/include/"
cp "$ARCHIVE/COPYING" "$PREFIX/licenses/libarchive.txt"

echo "velmora deps: GoogleTest" >&2
cmake_build /usr/src/googletest gtest-build -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
    -Dgtest_disable_pthreads=OFF
cmake --build gtest-build -j "$JOBS" >/dev/null
cmake --install gtest-build >/dev/null

cd /
rm -rf "$WORK"
touch "$PREFIX/.complete"
echo "$PREFIX"
