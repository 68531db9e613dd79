#!/usr/bin/env python3
"""Writes a deterministic benchmark corpus: a mixed folder of text-like and
already-compressed-like files with a few large ones.

usage: make_corpus.py mixed FOLDER [MIB]
"""
import os
import random
import sys

WORDS = ("archive folder tarball frame deflate level window progress cancel "
         "preferences editor cell buffer reader writer block entry name path").split()


def text_bytes(rng, size):
    out = bytearray()
    while len(out) < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        out += (line + "\n").encode()
    return bytes(out[:size])


def noise_bytes(rng, size):
    return rng.randbytes(size)


def mixed(folder, mib):
    rng = random.Random(17)
    total = mib << 20
    large = [37 << 20, 23 << 20, 48 << 20]  # a few large files
    written = 0
    for i, size in enumerate(large):
        path = os.path.join(folder, "large", f"video{i}.bin" if i % 2 else f"log{i}.txt")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(noise_bytes(rng, size) if i % 2 else text_bytes(rng, size))
        written += size
    n = 0
    while written < total:
        size = min(int(rng.paretovariate(1.2) * 20000), 4 << 20, total - written)
        kind = rng.random()
        sub = os.path.join(folder, f"dir{n % 40:02d}", f"sub{(n // 40) % 7}")
        os.makedirs(sub, exist_ok=True)
        name = os.path.join(sub, f"file{n:05d}" + (".txt" if kind < 0.6 else ".jpg"))
        with open(name, "wb") as f:
            f.write(text_bytes(rng, size) if kind < 0.6 else noise_bytes(rng, size))
        written += size
        n += 1
    print(f"{folder}: {n + len(large)} files, {written >> 20} MiB")


if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[1] != "mixed":
        sys.exit(__doc__)
    mixed(sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 512)
