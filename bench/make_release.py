#!/usr/bin/env python3
"""Writes the benchmark's synthetic game folders.

  make_release.py large <folder> --size-mb N --files N   mixed sizes and compressibility, some duplicates
  make_release.py small <folder> --files N                many tiny files in nested folders
  make_release.py small <folder> --files N --changed-every K
      the same small files, with every K-th one changed (a line added): the release after them

The content depends only on the arguments (fixed seed), so every run benchmarks the same data.
"""
import argparse
import os
import random


def incompressible(rng, size):
    return rng.randbytes(size)


def text_like(rng, size):
    words = [b"orvane", b"north", b"south", b"map", b"tile", b"sprite", b"sound", b"quest",
             b"level", b"item", b"0", b"1", b"42", b"=", b";", b"\n"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + b" "
    return bytes(out[:size])


def half_and_half(rng, size):
    half = size // 2
    return incompressible(rng, half) + text_like(rng, size - half)


def sparse(rng, size):
    block = bytearray(size)
    for _ in range(max(1, size // 4096)):
        at = rng.randrange(size)
        block[at] = rng.randrange(256)
    return bytes(block)


KINDS = [(incompressible, 0.45), (text_like, 0.25), (half_and_half, 0.2), (sparse, 0.1)]


def sizes_for(rng, total, count):
    # Log-uniform weights: many small files, a few large ones, scaled to the total.
    weights = [2 ** rng.uniform(0, 14) for _ in range(count)]
    scale = total / sum(weights)
    sizes = [max(1, int(w * scale)) for w in weights]
    sizes[0] += total - sum(sizes)
    return sizes


def large(folder, size_mb, files):
    rng = random.Random(20240611)
    total = size_mb * 1024 * 1024
    unique = max(1, int(files * 0.9))  # one file in ten repeats an earlier one
    sizes = sizes_for(rng, total * unique // files, unique)
    written = []
    for i, size in enumerate(sizes):
        kind = rng.choices([k for k, _ in KINDS], [w for _, w in KINDS])[0]
        path = os.path.join(folder, "data", "pack%02d" % (i % 17), "asset%05d.bin" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(kind(rng, size))
        written.append(path)
    for i in range(files - unique):
        source = rng.choice(written)
        path = os.path.join(folder, "copies", "copy%05d.bin" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(source, "rb") as f, open(path, "wb") as g:
            g.write(f.read())


def small(folder, files, changed_every=0):
    rng = random.Random(7)
    for i in range(files):
        path = os.path.join(folder, "ui", "d%02d" % (i % 40), "e%03d" % (i // 40 % 25), "f%05d.txt" % i)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        content = text_like(rng, rng.randrange(16, 512)) + b"%d\n" % i
        if changed_every and i % changed_every == 0:
            content += b"changed in the next release %d\n" % i
        with open(path, "wb") as f:
            f.write(content)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=["large", "small"])
    parser.add_argument("folder")
    parser.add_argument("--size-mb", type=int, default=256)
    parser.add_argument("--files", type=int, default=500)
    parser.add_argument("--changed-every", type=int, default=0)
    args = parser.parse_args()
    if args.what == "large":
        large(args.folder, args.size_mb, args.files)
    else:
        small(args.folder, args.files, args.changed_every)


if __name__ == "__main__":
    main()
