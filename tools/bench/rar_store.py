#!/usr/bin/env python3
"""Writes a RAR 5 archive of a folder's files, stored (no RAR compressor can
be had on Debian, and stored data is what a reader's own cost shows best).

usage: rar_store.py FOLDER ARCHIVE
The archive holds the folder itself: its name, then what it holds, each file
with its CRC-32 and time, folders as entries of their own.
"""
import os
import struct
import sys
import zlib


def vint(value):
    """RAR 5's variable-length integer: seven bits a byte, low first."""
    out = bytearray()
    while True:
        out.append((value & 0x7F) | (0x80 if value > 0x7F else 0))
        value >>= 7
        if not value:
            return bytes(out)


def block(fields):
    """A header block: its CRC-32, its size, then fields (from the type on)."""
    sized = vint(len(fields)) + fields
    return struct.pack("<I", zlib.crc32(sized)) + sized


def file_block(name, size, mtime, crc, folder):
    flags = 0x2 | (0x1 if folder else 0x4)  # time; folder, or CRC-32 given
    fields = vint(2) + vint(0x2) + vint(size)  # file header with a data area of size bytes
    fields += vint(flags) + vint(size) + vint(0x10 if folder else 0x20) + struct.pack("<I", mtime)
    if not folder:
        fields += struct.pack("<I", crc)
    encoded = name.encode()
    fields += vint(0) + vint(0) + vint(len(encoded)) + encoded  # stored, Windows, the name
    return block(fields)


def write(folder, archive):
    base = os.path.dirname(os.path.abspath(folder))
    with open(archive, "wb") as out:
        out.write(b"Rar!\x1a\x07\x01\x00" + block(vint(1) + vint(0) + vint(0)))
        for parent, folders, files in os.walk(folder):
            folders.sort()
            relative = os.path.relpath(parent, base).replace(os.sep, "/")
            out.write(file_block(relative, 0, int(os.stat(parent).st_mtime), 0, True))
            for name in sorted(files):
                path = os.path.join(parent, name)
                with open(path, "rb") as f:
                    data = f.read()
                out.write(file_block(relative + "/" + name, len(data), int(os.stat(path).st_mtime),
                                     zlib.crc32(data), False))
                out.write(data)
        out.write(block(vint(5) + vint(0) + vint(0)))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    write(sys.argv[1], sys.argv[2])
