#!/usr/bin/env python3
"""Inputs and expected outputs for the FIPS provider script, from the openssl command line and
from Python's own hashlib, hmac and RSA arithmetic; the two must agree before anything is written.

Usage: make_fips_expectations.py OUT_DIR
Writes OUT_DIR/expectations.txt ("name hex" lines) and OUT_DIR/key.pem (an RSA key made by openssl).
"""
import hashlib
import hmac
import os
import re
import subprocess
import sys


def openssl(*args, data=b""):
    return subprocess.run(["openssl", *args], input=data, stdout=subprocess.PIPE, check=True).stdout


def pkcs7(data, block):
    n = block - len(data) % block
    return data + bytes([n]) * n


def rsa_numbers(pem_path):
    """n and d of the key, read from openssl's text dump."""
    text = openssl("rsa", "-in", pem_path, "-noout", "-text").decode()
    def number(label):
        m = re.search(label + r":\s*\n((?:\s+[0-9a-f:]+\n)+)", text)
        return int(re.sub(r"[\s:]", "", m.group(1)), 16)
    return number("modulus"), number("privateExponent")


def rsa_sha1_signature(message, n, d):
    """RSASSA-PKCS1-v1_5 with SHA-1 (RFC 8017 8.2.1), by Python's integers."""
    digest_info = bytes.fromhex("3021300906052b0e03021a05000414") + hashlib.sha1(message).digest()
    k = (n.bit_length() + 7) // 8
    encoded = b"\x00\x01" + b"\xff" * (k - len(digest_info) - 3) + b"\x00" + digest_info
    return pow(int.from_bytes(encoded, "big"), d, n).to_bytes(k, "big")


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    # More than one 128000-byte chunk of the passes, a whole number of AES and DES blocks.
    plain = os.urandom(140000 + 16 * (os.urandom(1)[0] % 8))
    aes_key, aes_iv = os.urandom(16), os.urandom(16)
    des_key, des_iv = os.urandom(24), os.urandom(8)
    hmac_key = os.urandom(20)
    key_pem = os.path.join(out, "key.pem")
    subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", key_pem],
                   check=True, stderr=subprocess.DEVNULL)

    values = {"plain": plain, "aes_key": aes_key, "aes_iv": aes_iv, "des_key": des_key, "des_iv": des_iv,
              "hmac_key": hmac_key}
    # Ciphers: openssl only (no AES or DES in Python's standard library); the control pads with
    # PKCS#7, which openssl's CBC adds itself and its CFB leaves to the caller.
    values["aes_cbc"] = openssl("enc", "-aes-128-cbc", "-K", aes_key.hex(), "-iv", aes_iv.hex(), data=plain)
    values["aes_cfb"] = openssl("enc", "-aes-128-cfb", "-nopad", "-K", aes_key.hex(), "-iv", aes_iv.hex(),
                                data=pkcs7(plain, 16))
    values["des3_cbc"] = openssl("enc", "-des-ede3-cbc", "-K", des_key.hex(), "-iv", des_iv.hex(), data=plain)

    def both(name, python_value, openssl_value):
        if python_value != openssl_value:
            sys.exit(f"{name}: Python and openssl disagree")
        values[name] = python_value

    both("sha256", hashlib.sha256(plain).digest(), openssl("dgst", "-sha256", "-binary", data=plain))
    both("sha1", hashlib.sha1(plain).digest(), openssl("dgst", "-sha1", "-binary", data=plain))
    both("md5", hashlib.md5(plain).digest(), openssl("dgst", "-md5", "-binary", data=plain))
    both("hmac_sha1", hmac.new(hmac_key, plain, hashlib.sha1).digest(),
         openssl("dgst", "-sha1", "-mac", "HMAC", "-macopt", "hexkey:" + hmac_key.hex(), "-binary", data=plain))
    n, d = rsa_numbers(key_pem)
    both("rsa_sha1", rsa_sha1_signature(plain, n, d), openssl("dgst", "-sha1", "-sign", key_pem, "-binary", data=plain))

    with open(os.path.join(out, "expectations.txt"), "w") as f:
        for name, value in values.items():
            f.write(f"{name} {value.hex()}\n")


if __name__ == "__main__":
    main()
