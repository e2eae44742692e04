#!/usr/bin/env python3
"""The reference pipeline's helpers, around aria2c and sha256sum.

  reference_fetch.py plan <manifest.txt> <base-url> <aria2-input> <checklist>
      aria2c's input file (each distinct object once, saved as objects/<name>) and a
      sha256sum check list of the release's files (relative to the game folder).
  reference_fetch.py place <manifest.txt> <download-dir> <game-folder> [workers]
      inflates each object (Python's zlib, the C library) or copies a stored one into
      <game-folder>/.staging/<sha256>, then copies it for every further file with the same
      content and renames each file into place; with a pool of worker processes.
  reference_fetch.py need <manifest.txt> [<older manifest.txt>]
      prints how many bytes of objects an update to the manifest fetches: the object sizes of
      its distinct objects, leaving out files the older release (if given) holds at the same path.
"""
import os
import shutil
import sys
import zlib
from multiprocessing import Pool


def entries(manifest):
    with open(manifest, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "f":
                sha, size, object_size, compression, kind, path = fields[1:7]
                yield sha, int(size), int(object_size), compression == "z", path


def object_name(sha, compressed):
    return sha + (".z" if compressed else "")


def plan(manifest, base, aria_input, checklist):
    seen = set()
    with open(aria_input, "w") as a, open(checklist, "w") as c:
        for sha, size, object_size, compressed, path in entries(manifest):
            c.write("%s  %s\n" % (sha, path))
            if sha in seen:
                continue
            seen.add(sha)
            name = object_name(sha, compressed)
            a.write("%sobjects/%s/%s\n  out=%s\n" % (base, sha[:2], name, name))


def unpack(job):
    source, staged, compressed = job
    if compressed:
        inflater = zlib.decompressobj()
        with open(source, "rb") as f, open(staged, "wb") as g:
            while True:
                chunk = f.read(1 << 20)
                if not chunk:
                    break
                g.write(inflater.decompress(chunk))
            g.write(inflater.flush())
    else:
        shutil.copyfile(source, staged)


def place(manifest, downloads, game, workers):
    staging = os.path.join(game, ".staging")
    os.makedirs(staging, exist_ok=True)
    by_sha = {}
    for sha, size, object_size, compressed, path in entries(manifest):
        by_sha.setdefault(sha, (compressed, []))[1].append(path)
    jobs = [(os.path.join(downloads, object_name(sha, c)), os.path.join(staging, sha), c)
            for sha, (c, _) in by_sha.items()]
    with Pool(workers) as pool:
        pool.map(unpack, jobs, chunksize=4)
    for sha, (_, paths) in by_sha.items():
        staged = os.path.join(staging, sha)
        for i, path in enumerate(paths):
            target = os.path.join(game, path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if i + 1 < len(paths):
                shutil.copyfile(staged, target + ".part")
                os.replace(target + ".part", target)
            else:
                os.replace(staged, target)
    os.rmdir(staging)


def need(manifest, older=None):
    held = {path: sha for sha, _, _, _, path in entries(older)} if older else {}
    names = set()
    total = 0
    for sha, size, object_size, compressed, path in entries(manifest):
        name = object_name(sha, compressed)
        if held.get(path) != sha and name not in names:
            names.add(name)
            total += object_size
    print(total)


def main():
    if sys.argv[1] == "plan":
        plan(*sys.argv[2:6])
    elif sys.argv[1] == "place":
        place(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]) if len(sys.argv) > 5 else os.cpu_count())
    elif sys.argv[1] == "need":
        need(*sys.argv[2:4])
    else:
        sys.exit("usage: see the top of this file")


if __name__ == "__main__":
    main()
