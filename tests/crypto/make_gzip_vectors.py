"""Writes inputs for the compression test and compresses them with the gzip command.

Usage: make_gzip_vectors.py GZIP OUTDIR

Writes OUTDIR/gzip_input.bin (about 300 KB: text-like lines mixed with random runs, fixed
seed) and OUTDIR/empty.bin, then OUTDIR/gzip_input.bin.gz and OUTDIR/empty.bin.gz with
`gzip -9 -c NAME`. gzip run on a named file stores the name (FNAME) and the modification time
in the header, so the test reads a header with a flag set.
"""
import os
import random
import subprocess
import sys


def make_input(rng):
    words = [b"alpha", b"bravo", b"charlie", b"delta", b"echo", b"foxtrot", b"golf", b"hotel"]
    out = bytearray()
    while len(out) < 300000:
        if rng.random() < 0.2:
            out += bytes(rng.getrandbits(8) for _ in range(rng.randrange(1, 3000)))
        else:
            out += b" ".join(rng.choice(words) for _ in range(rng.randrange(1, 20))) + b"\r\n"
    return bytes(out[:300000])


def main(gzip, outdir):
    os.makedirs(outdir, exist_ok=True)
    rng = random.Random(20240917)
    files = {"gzip_input.bin": make_input(rng), "empty.bin": b""}
    for name, data in files.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)
        compressed = subprocess.run([gzip, "-9", "-c", name], cwd=outdir, check=True,
                                    stdout=subprocess.PIPE).stdout
        with open(os.path.join(outdir, name + ".gz"), "wb") as f:
            f.write(compressed)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
