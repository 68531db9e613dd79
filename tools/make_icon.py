#!/usr/bin/env python3
"""Draws Velmora's icon (an archive box with a zipper on a rounded teal tile)
at 16, 32, 48 and 256 pixels and writes it as a Windows .ico file.

usage: make_icon.py OUT.ico
"""
import struct
import sys
import zlib

TEAL = (0x14, 0x8f, 0x8a)
TEAL_DARK = (0x0c, 0x5c, 0x59)
BOX = (0xf4, 0xe9, 0xd2)
BOX_SHADE = (0xd9, 0xc7, 0xa3)
ZIP = (0x3a, 0x3a, 0x3a)


def inside_rounded(x, y, size, radius):
    cx = min(max(x, radius), size - radius)
    cy = min(max(y, radius), size - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def pixel(x, y, size):
    """RGBA of the pixel centred at (x + 0.5, y + 0.5) on a size x size tile."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    if not inside_rounded(x + 0.5, y + 0.5, size, size * 0.2):
        return (0, 0, 0, 0)
    colour = TEAL if v < 0.9 else TEAL_DARK
    # The box: a lid and a body.
    if 0.18 <= u <= 0.82 and 0.22 <= v <= 0.36:
        colour = BOX_SHADE
    elif 0.22 <= u <= 0.78 and 0.36 < v <= 0.80:
        colour = BOX
    # The zipper down the middle of the box.
    if abs(u - 0.5) <= max(0.035, 1.0 / size) and 0.22 <= v <= 0.80:
        teeth = int(v * size / max(1, size // 16)) % 2
        colour = ZIP if teeth or size < 32 else BOX_SHADE
    if abs(u - 0.5) <= 0.07 and 0.56 <= v <= 0.66 and size >= 32:
        colour = ZIP  # the slider
    return colour + (255,)


def bmp_entry(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        row = b"".join(struct.pack("<BBBB", p[2], p[1], p[0], p[3]) for p in (pixel(x, y, size) for x in range(size)))
        rows.append(row)
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + b"\0" * mask_row * size


def png_entry(size):
    raw = b"".join(b"\0" + b"".join(bytes(pixel(x, y, size)) for x in range(size)) for y in range(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(out):
    sizes = [16, 32, 48, 256]
    images = [bmp_entry(s) if s < 256 else png_entry(s) for s in sizes]
    directory = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        directory += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(out, "wb") as f:
        f.write(directory + b"".join(images))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
