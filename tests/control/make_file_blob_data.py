#!/usr/bin/env python3
"""Files for the file blob tests through the control, and the checks of what they wrote.

  roundtrip DIR   random input.bin for the cross-class round trip
  compare DIR     output.bin (written by the blob) must equal input.bin byte for byte
  sparse DIR      a sparse 4.5 GiB file with marks below and above 4 GiB, and its CRC-32 from
                  zlib streamed over the file, in hex as the control writes it (big-endian)
  remove DIR      deletes the sparse file
"""
import os
import sys
import zlib

SPARSE_SIZE = 4 * 2**30 + 2**29
MARKS = {0: b"first bytes", 2**32 - 3: b"across 4 GiB", 2**32 + 12345: b"beyond", SPARSE_SIZE - 5: b"last!"}


def roundtrip(folder):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "input.bin"), "wb") as out:
        out.write(os.urandom(300001))


def compare(folder):
    with open(os.path.join(folder, "input.bin"), "rb") as a, open(os.path.join(folder, "output.bin"), "rb") as b:
        if a.read() != b.read():
            sys.exit("output.bin differs from input.bin")
    print("output.bin equals input.bin")


def sparse(folder):
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "sparse.bin")
    with open(path, "wb") as out:
        out.truncate(SPARSE_SIZE)
        for offset, mark in MARKS.items():
            out.seek(offset)
            out.write(mark)
    crc = 0
    with open(path, "rb") as data:
        while chunk := data.read(1 << 22):
            crc = zlib.crc32(chunk, crc)
    with open(os.path.join(folder, "sparse.crc32"), "w") as out:
        out.write("%08x" % crc)


def remove(folder):
    for name in ("sparse.bin", "sparse.crc32"):
        try:
            os.remove(os.path.join(folder, name))
        except FileNotFoundError:
            pass


if __name__ == "__main__":
    {"roundtrip": roundtrip, "compare": compare, "sparse": sparse, "remove": remove}[sys.argv[1]](sys.argv[2])
