#!/usr/bin/env python3
"""Copies the FIPS library set and changes one byte of the provider module's copy, inside its
name string, so that the module still loads but no longer matches the MAC of fipsmodule.cnf.

Usage: damage_module.py SET_DIR OUT_DIR FILE...
"""
import os
import shutil
import sys

set_dir, out_dir, files = sys.argv[1], sys.argv[2], sys.argv[3:]
os.makedirs(out_dir, exist_ok=True)
for name in files:
    shutil.copyfile(os.path.join(set_dir, name), os.path.join(out_dir, name))
module = os.path.join(out_dir, "fips.dll")
with open(module, "rb") as f:
    data = bytearray(f.read())
at = data.find(b"OpenSSL FIPS Provider")
if at < 0:
    sys.exit("fips.dll: the provider's name string is missing")
data[at] ^= 0x20  # "OpenSSL" -> "openSSL"
with open(module, "wb") as f:
    f.write(data)
