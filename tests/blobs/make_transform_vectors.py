"""Writes random inputs with Python's hex and Base64 encodings of them, for the transform test.

Each record is a sequence of fields "<name> <length>\n<bytes>\n", in the order
input, hex, b64, mime, mimecrlf; "mime" is Base64 broken into lines of 76 characters ending
in LF (base64.encodebytes), "mimecrlf" the same with CR LF.
"""
import base64
import binascii
import random
import sys


def field(out, name, data):
    out.write(b"%s %d\n" % (name, len(data)))
    out.write(data)
    out.write(b"\n")


def main(path):
    rng = random.Random(20240611)
    lengths = list(range(1, 201))
    lengths += [rng.randrange(201, 6000) for _ in range(60)]
    # Around the decoder's 512-byte flush and 1024-byte staging area.
    lengths += [510, 511, 512, 513, 514, 515, 516, 700, 1022, 1023, 1024, 1025, 1026, 5000]
    # Around the encoder's 196608-byte write pieces.
    lengths += [196607, 196608, 196609, 3 * 196608 + 5]
    with open(path, "wb") as out:
        for length in lengths:
            data = bytes(rng.getrandbits(8) for _ in range(length))
            mime = base64.encodebytes(data)
            field(out, b"input", data)
            field(out, b"hex", binascii.hexlify(data))
            field(out, b"b64", base64.b64encode(data))
            field(out, b"mime", mime)
            field(out, b"mimecrlf", mime.replace(b"\n", b"\r\n"))


if __name__ == "__main__":
    main(sys.argv[1])
