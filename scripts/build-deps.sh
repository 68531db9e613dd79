#!/bin/sh
# Builds the libraries Velmora links statically (cJSON, Zstandard, zlib with
# minizip, bzip2, liblzma, and libarchive reading through the last three) and
# GoogleTest for 64-bit Windows, from Debian 12's own source packages, into a
# cache folder outside the work tree; libarchive's RAR test archives go there
# too, under testdata. The folder's name carries a hash of this script and of
# the toolchain file, so a change to either builds a fresh set while an
# unchanged one is reused. Prints the folder's path as its last line.
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

echo "velmora deps: bzip2" >&2
BZIP2=$(fetch bzip2 1.0.8-5)
mkdir -p bzip2-obj
for f in blocksort huffman crctable randtable compress decompress bzlib; do
    $CC $CFLAGS -c "$BZIP2/$f.c" -o "bzip2-obj/$f.o"
done
$AR rcs "$PREFIX/lib/libbz2.a" bzip2-obj/*.o
cp "$BZIP2/bzlib.h" "$PREFIX/include/"
cp "$BZIP2/LICENSE" "$PREFIX/licenses/bzip2.txt"

# Static liblzma: whoever includes lzma.h defines LZMA_API_STATIC, or every
# call is taken for an import from liblzma.dll.
echo "velmora deps: liblzma" >&2
XZ=$(fetch xz-utils 5.4.1-0.2)
cmake_build "$XZ" xz-build -DBUILD_SHARED_LIBS=OFF
cmake --build xz-build -j "$JOBS" --target liblzma >/dev/null
cp xz-build/liblzma.a "$PREFIX/lib/"
cp "$XZ/src/liblzma/api/lzma.h" "$PREFIX/include/"
mkdir -p "$PREFIX/include/lzma"
cp "$XZ"/src/liblzma/api/lzma/*.h "$PREFIX/include/lzma/"
cp "$XZ/COPYING" "$PREFIX/licenses/liblzma.txt"

# libarchive's CMake looks for the codecs only under the toolchain's root, so
# each is named here. Its run-check of ZLIB_WINAPI crashes CMake when
# cross-compiling; the answer is seeded instead (zlib built above uses the C
# calling convention), with the library it was found for, so it is kept.
echo "velmora deps: libarchive" >&2
ARCHIVE=$(fetch libarchive 3.6.2-1)
cmake_build "$ARCHIVE" archive-build -DBUILD_SHARED_LIBS=OFF -DENABLE_TEST=OFF \
    -DENABLE_TAR=OFF -DENABLE_CPIO=OFF -DENABLE_CAT=OFF -DENABLE_UNZIP=OFF \
    -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_NETTLE=OFF -DENABLE_LIBB2=OFF \
    -DENABLE_LZ4=OFF -DENABLE_LZO=OFF -DENABLE_ZSTD=OFF -DENABLE_LIBXML2=OFF -DENABLE_EXPAT=OFF \
    -DENABLE_PCREPOSIX=OFF -DENABLE_PCRE2POSIX=OFF -DENABLE_LIBGCC=OFF -DENABLE_CNG=OFF \
    -DENABLE_XATTR=OFF -DENABLE_ACL=OFF -DENABLE_ICONV=OFF -DENABLE_COVERAGE=OFF \
    -DENABLE_WERROR=OFF -DPOSIX_REGEX_LIB=NONE \
    -DENABLE_ZLIB=ON -DZLIB_LIBRARY="$PREFIX/lib/libz.a" -DZLIB_INCLUDE_DIR="$PREFIX/include" \
    -DZLIB_WINAPI=OFF -DZLIB_WINAPI_WITH_LIB="$PREFIX/lib/libz.a" \
    -DENABLE_BZip2=ON -DBZIP2_LIBRARIES="$PREFIX/lib/libbz2.a" -DBZIP2_INCLUDE_DIR="$PREFIX/include" \
    -DENABLE_LZMA=ON -DLIBLZMA_LIBRARY="$PREFIX/lib/liblzma.a" -DLIBLZMA_INCLUDE_DIR="$PREFIX/include"
# Without a codec libarchive still builds, and then refuses those archives
# at run time: stop here instead.
for header in HAVE_ZLIB_H HAVE_BZLIB_H HAVE_LZMA_H; do
    if ! grep -q "^#define $header 1" archive-build/config.h; then
        echo "velmora deps: libarchive was configured without $header" >&2
        exit 1
    fi
done
cmake --build archive-build -j "$JOBS" --target archive_static >/dev/null
cp archive-build/libarchive/libarchive_static.a "$PREFIX/lib/libarchive.a"
cp "$ARCHIVE/libarchive/archive.h" "$ARCHIVE/libarchive/archive_entry.h" "$PREFIX/include/"
cp "$ARCHIVE/COPYING" "$PREFIX/licenses/libarchive.txt"
# libarchive's own RAR archives (uuencoded), which no tool here writes: the
# family tests unpack them beside bsdtar.
mkdir -p "$PREFIX/testdata/libarchive"
cp "$ARCHIVE"/libarchive/test/*rar*.uu "$PREFIX/testdata/libarchive/"

echo "velmora deps: GoogleTest" >&2
cmake_build /usr/src/googletest gtest-build -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON \
    -Dgtest_disable_pthreads=OFF
cmake --build gtest-build -j "$JOBS" >/dev/null
cmake --install gtest-build >/dev/null

cd /
rm -rf "$WORK"
touch "$PREFIX/.complete"
echo "$PREFIX"
