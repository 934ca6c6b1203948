#!/usr/bin/env python3
"""Digests of a few megabytes of data by independent tools, for the control's Digest and HMAC.

make_digest_vectors.py OPENSSL OUT_DIR
    Writes OUT_DIR/digest_data.bin (3 MB plus a few bytes, deterministic) and
    OUT_DIR/digest_vectors.inc: the `openssl dgst` digests for MD5, SHA-1, SHA-256, SHA-384 and
    SHA-512, zlib.crc32, and `openssl dgst -hmac` MACs with the key "ombrix".
"""
import os
import random
import subprocess
import sys
import zlib

openssl, out_dir = sys.argv[1], sys.argv[2]
os.makedirs(out_dir, exist_ok=True)
data_path = os.path.join(out_dir, "digest_data.bin")
rng = random.Random(20261210)
data = bytes(rng.getrandbits(8) for _ in range(3 * 1024 * 1024 + 77))
with open(data_path, "wb") as f:
    f.write(data)


def dgst(*args):
    out = subprocess.run([openssl, "dgst", *args, "-r", data_path], check=True, stdout=subprocess.PIPE).stdout
    return out.split()[0].decode()


rows = []
for type_name, name in (("MD5", "md5"), ("SHA1", "sha1"), ("SHA256", "sha256"), ("SHA384", "sha384"), ("SHA512", "sha512")):
    rows.append('{%s, false, "%s"},' % (type_name, dgst("-" + name)))
    rows.append('{%s, true, "%s"},' % (type_name, dgst("-" + name, "-hmac", "ombrix")))
rows.append('{CRC32, false, "%08x"},' % (zlib.crc32(data) & 0xFFFFFFFF))
with open(os.path.join(out_dir, "digest_vectors.inc"), "w") as f:
    f.write("\n".join(rows) + "\n")
