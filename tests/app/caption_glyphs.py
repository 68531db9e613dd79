# Checks the caption buttons of a framed window in a screenshot written by
# velmora-screenshot (8-bit RGB PNG, no filters): the close button shows an
# X (dark pixels mirrored left to right and top to bottom, about the glyph's
# middle) and the minimize
# button a low bar. Without Marlett, Wine draws the letters "r" and "0"
# there instead. Usage: caption_glyphs.py SHOT.png; exit 0 when both hold.
import struct
import sys
import zlib


def load(path):
    data = open(path, "rb").read()
    width, height = struct.unpack(">II", data[16:24])
    pos, packed = 8, b""
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        if data[pos + 4:pos + 8] == b"IDAT":
            packed += data[pos + 8:pos + 8 + length]
        pos += 12 + length
    raw = zlib.decompress(packed)
    stride = width * 3 + 1
    rows = [raw[y * stride + 1:(y + 1) * stride] for y in range(height)]
    return width, height, lambda x, y: sum(rows[y][x * 3:x * 3 + 3])


def light_runs(width, brightness, y):
    runs, start = [], None
    for x in range(max(0, width - 90), width):
        if brightness(x, y) > 500:
            start = x if start is None else start
        elif start is not None:
            runs.append((start, x - 1))
            start = None
    return [r for r in runs if 10 <= r[1] - r[0] + 1 <= 30]


def buttons(width, height, brightness):
    # The first row from the top with two or more button faces side by side.
    for y in range(1, min(height, 40)):
        runs = light_runs(width, brightness, y)
        if len(runs) >= 2:
            boxes = []
            for x0, x1 in runs:
                y1 = y
                while y1 + 1 < height and brightness(x0 + 1, y1 + 1) > 500:
                    y1 += 1
                boxes.append((x0, y, x1, y1))
            return boxes
    return []


def glyph(box, brightness):
    x0, y0, x1, y1 = box
    return {(x, y) for y in range(y0, y1 + 1) for x in range(x0, x1 + 1) if brightness(x, y) < 384}


def mirrored(pixels):
    # About the glyph's own middle, which need not be the button's.
    x0, x1 = min(x for x, _ in pixels), max(x for x, _ in pixels)
    y0, y1 = min(y for _, y in pixels), max(y for _, y in pixels)
    both = sum(1 for x, y in pixels if (x0 + x1 - x, y) in pixels and (x, y0 + y1 - y) in pixels)
    return both >= 0.9 * len(pixels)


def main():
    width, height, brightness = load(sys.argv[1])
    boxes = buttons(width, height, brightness)
    if len(boxes) < 2:
        print("caption_glyphs: no caption buttons found")
        return 1
    close, minimize = boxes[-1], boxes[0]
    cross = glyph(close, brightness)
    bar = glyph(minimize, brightness)
    ok = True
    if len(cross) < 6 or not mirrored(cross):
        print("caption_glyphs: the close button shows no X (%d dark pixels)" % len(cross))
        ok = False
    rows = {y for _, y in bar}
    if not bar or max(rows) - min(rows) > 2 or min(rows) < (minimize[1] + minimize[3]) // 2:
        print("caption_glyphs: the minimize button shows no low bar (%d dark pixels)" % len(bar))
        ok = False
    if ok:
        print("caption_glyphs: close button X of %d pixels, minimize bar of %d pixels" % (len(cross), len(bar)))
    return 0 if ok else 1


sys.exit(main())
