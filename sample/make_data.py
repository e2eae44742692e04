"""Writes the sample release's large data files into a folder, the same bytes on every run.

Usage: make_data.py FOLDER
"""
import hashlib
import os
import sys


def noise(seed, size):
    # SHA-256 in counter mode: incompressible and identical everywhere.
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(b"%s:%d" % (seed, counter)).digest()
        counter += 1
    return bytes(out[:size])


def texture(size):
    # Long runs with a little noise: compresses well, like real texture atlases often do.
    out = bytearray()
    row = 0
    while len(out) < size:
        out += bytes([row % 251]) * 224 + hashlib.sha256(b"texture:%d" % row).digest()
        row += 1
    return bytes(out[:size])


def write(folder, name, data):
    path = os.path.join(folder, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    folder = sys.argv[1]
    write(folder, "data/world.pak", noise(b"world", 1048576))
    write(folder, "data/textures.pak", texture(786432))
    write(folder, "data/sounds/ambient.bnk", noise(b"ambient", 524288))


if __name__ == "__main__":
    main()
