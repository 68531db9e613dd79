#!/usr/bin/env python3
"""Writes a deterministic benchmark corpus.

usage: make_corpus.py mixed FOLDER [MIB]   text-like and already-compressed-like
                                           files (~2,000 in 512 MiB), a few of
                                           20-50 MiB
       make_corpus.py small FOLDER [COUNT] COUNT files of 0-4 KiB (20,000)
       make_corpus.py flat FOLDER [COUNT]  COUNT files of 2 KiB in one folder (5,000)
       make_corpus.py deep FOLDER [COUNT]  the same files six folders deep, 100
                                           to a folder
       make_corpus.py large FOLDER [MIB]   one file of MIB MiB (1024), half
                                           text-like, half noise
       make_corpus.py sparse FOLDER [GIB]  one sparse disk image of GIB GiB (10)
                                           holding 8 KiB of data in 4 runs
The same arguments always give the same bytes.
"""
import os
import random
import sys

WORDS = ("archive folder tarball frame deflate level window progress cancel "
         "preferences editor cell buffer reader writer block entry name path").split()


def text_bytes(rng, size):
    # Lines of words, made a chunk at a time and repeated with a varying
    # prefix so that large files are quick to make but not trivially repetitive.
    lines = []
    length = 0
    while length < min(size, 65536):
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14))) + "\n"
        lines.append(line)
        length += len(line)
    chunk = "".join(lines).encode()
    out = bytearray()
    n = 0
    while len(out) < size:
        out += b"%d " % n + chunk
        n += 1
    return bytes(out[:size])


def noise_bytes(rng, size):
    return rng.randbytes(size)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def mixed(folder, mib):
    rng = random.Random(17)
    total = mib << 20
    large = [37 << 20, 23 << 20, 48 << 20]
    written = 0
    for i, size in enumerate(large):
        name = f"video{i}.bin" if i % 2 else f"log{i}.txt"
        write(os.path.join(folder, "large", name), noise_bytes(rng, size) if i % 2 else text_bytes(rng, size))
        written += size
    n = 0
    while written < total:
        size = min(int(rng.paretovariate(1.2) * 56000), 4 << 20, total - written)
        kind = rng.random()
        sub = os.path.join(folder, f"dir{n % 40:02d}", f"sub{(n // 40) % 7}")
        name = os.path.join(sub, f"file{n:05d}" + (".txt" if kind < 0.6 else ".jpg"))
        write(name, text_bytes(rng, size) if kind < 0.6 else noise_bytes(rng, size))
        written += size
        n += 1
    print(f"{folder}: {n + len(large)} files, {written >> 20} MiB")


def small(folder, count):
    rng = random.Random(23)
    written = 0
    for n in range(count):
        size = rng.randint(0, 4096)
        name = os.path.join(folder, f"d{n % 100:02d}", f"f{n:05d}" + (".txt" if n % 3 else ".bin"))
        write(name, text_bytes(rng, size) if n % 3 else noise_bytes(rng, size))
        written += size
    print(f"{folder}: {count} files, {written >> 10} KiB")


def two_kib_files(folder, count, folder_of):
    """count files of 2 KiB, two in three text-like, in folder_of(n)."""
    rng = random.Random(37)
    for n in range(count):
        name = os.path.join(folder, folder_of(n), f"f{n:05d}" + (".txt" if n % 3 else ".bin"))
        write(name, text_bytes(rng, 2048) if n % 3 else noise_bytes(rng, 2048))


def flat(folder, count):
    two_kib_files(folder, count, lambda n: "")
    print(f"{folder}: {count} files of 2 KiB in one folder")


def deep(folder, count):
    two_kib_files(folder, count, lambda n: os.path.join(f"d{n // 100:02d}", "a", "b", "c", "d", "e"))
    print(f"{folder}: {count} files of 2 KiB, six folders deep")


def large(folder, mib):
    rng = random.Random(29)
    path = os.path.join(folder, "disk.img")
    os.makedirs(folder, exist_ok=True)
    with open(path, "wb") as f:
        for i in range(mib):
            f.write(text_bytes(rng, 1 << 20) if i % 2 == 0 else noise_bytes(rng, 1 << 20))
    print(f"{folder}: 1 file, {mib} MiB")


def sparse(folder, gib):
    rng = random.Random(31)
    path = os.path.join(folder, "disk.img")
    os.makedirs(folder, exist_ok=True)
    size = gib << 30
    with open(path, "wb") as f:
        for at in (0, size // 3, size // 2, size - 8192):
            f.seek(at)
            f.write(text_bytes(rng, 2048))
        f.truncate(size)
    print(f"{folder}: 1 sparse file, {gib} GiB, 8 KiB of data")


if __name__ == "__main__":
    kinds = {"mixed": (mixed, 512), "small": (small, 20000), "flat": (flat, 5000), "deep": (deep, 5000), "large": (large, 1024), "sparse": (sparse, 10)}
    if len(sys.argv) < 3 or sys.argv[1] not in kinds:
        sys.exit(__doc__)
    make, default = kinds[sys.argv[1]]
    make(sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else default)
