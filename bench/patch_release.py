#!/usr/bin/env python3
"""patch_release.py: the two releases of the patch benchmark, and what fixed-size chunks would cost.

  patch_release.py make <folder> --size-mb N   writes <folder>/A/data/archive.pak (N MiB that do not
      compress) and <folder>/B/data/archive.pak: the same with 32 scattered 4 KiB regions rewritten and
      1 MiB + 4097 bytes of new bytes inserted in the middle (no whole number of fixed chunks), and
      <folder>/B-1mib.pak: the same edits with exactly 1 MiB inserted, for the fixed-chunk row that an
      insertion of a whole chunk favours
  patch_release.py fixed <old> <new> --chunk-mb N   prints the bytes a client holding <old> fetches to
      get <new> when both are cut into fixed N MiB chunks and only the chunks it lacks are fetched
  patch_release.py nginx-bytes <access.log> <folder>   prints the body bytes nginx sent below /<folder>/
"""
import argparse
import hashlib
import os
import random
import re

MIB = 1024 * 1024
INSERTED_EXTRA = 4097


def make(folder, size_mb):
    rng = random.Random(20261209)
    old = bytearray()
    for _ in range(size_mb):
        old += rng.randbytes(MIB)
    new = bytearray(old)
    for _ in range(32):
        at = rng.randrange(len(new) - 4096)
        new[at:at + 4096] = rng.randbytes(4096)
    middle = len(new) // 2 + 12345
    inserted = rng.randbytes(MIB + INSERTED_EXTRA)
    whole_chunk = bytearray(new)
    whole_chunk[middle:middle] = inserted[:MIB]
    new[middle:middle] = inserted
    for name, data in (("A", old), ("B", new)):
        path = os.path.join(folder, name, "data")
        os.makedirs(path, exist_ok=True)
        with open(os.path.join(path, "archive.pak"), "wb") as f:
            f.write(data)
    with open(os.path.join(folder, "B-1mib.pak"), "wb") as f:
        f.write(whole_chunk)


def blocks(path, size):
    with open(path, "rb") as f:
        while True:
            block = f.read(size)
            if not block:
                return
            yield block


def fixed(old, new, chunk_mb):
    size = chunk_mb * MIB
    have = {hashlib.sha256(b).digest() for b in blocks(old, size)}
    print(sum(len(b) for b in blocks(new, size) if hashlib.sha256(b).digest() not in have))


def nginx_bytes(log, folder):
    request = re.compile(r'"GET /%s/[^"]*" \d+ (\d+)' % re.escape(folder))
    total = 0
    with open(log) as f:
        for line in f:
            m = request.search(line)
            if m:
                total += int(m.group(1))
    print(total)


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("make")
    p.add_argument("folder")
    p.add_argument("--size-mb", type=int, default=256)
    p = sub.add_parser("fixed")
    p.add_argument("old")
    p.add_argument("new")
    p.add_argument("--chunk-mb", type=int, default=1)
    p = sub.add_parser("nginx-bytes")
    p.add_argument("log")
    p.add_argument("folder")
    args = parser.parse_args()
    if args.command == "make":
        make(args.folder, args.size_mb)
    elif args.command == "fixed":
        fixed(args.old, args.new, args.chunk_mb)
    else:
        nginx_bytes(args.log, args.folder)


if __name__ == "__main__":
    main()
