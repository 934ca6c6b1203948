#!/usr/bin/env python3
"""Writes PE images, good and malformed, for the PE reading test, and a manifest.

usage: make_pe_files.py OPENSSL OSSLSIGNCODE OUTDIR

Each manifest line: name, expected code, e, magic, checksum offset, entry offset, size,
padding P, table offset C, then the MD5 of the hashed ranges computed here, and the DER
DigestInfo (hex) that osslsigncode put into its own MD5 and SHA-256 signatures of the image
("-" when osslsigncode refused the image).
"""
import hashlib
import os
import random
import struct
import subprocess
import sys
import tempfile

NOT_EXECUTABLE = 30013
ALREADY_SIGNED = 30014


def image(magic=0x10B, size=1000, e=0x80, directories=16, optional_size=None, certificate=(0, 0),
          resources=(0, 0), signature=b'PE\0\0', mz=b'MZ', seed=1):
    """An image whose bytes outside the fields set here are random (so every range matters)."""
    rnd = random.Random(seed)
    data = bytearray(rnd.randbytes(size))
    pe32 = magic != 0x20B
    if optional_size is None:
        optional_size = 224 if pe32 else 240
    header = bytearray(mz + bytes(58) + struct.pack('<I', e & 0xFFFFFFFF))
    data[0:min(64, size)] = header[:min(64, size)]
    fields = bytearray(signature + struct.pack('<HHIIIHH', 0x14C if pe32 else 0x8664, 1, 0x5E000000, 0, 0,
                                                  optional_size, 0x0102))
    fields += struct.pack('<H', magic)
    fields += bytes(rnd.randbytes(62))                     # the optional header up to the checksum
    fields += struct.pack('<I', 0xA1B2C3D4)                # checksum (not hashed)
    count_offset = 92 if pe32 else 108
    fields += bytes(rnd.randbytes(count_offset - 68))
    fields += struct.pack('<I', directories)
    table = bytearray(rnd.randbytes(16 * 8))
    table[2 * 8:3 * 8] = struct.pack('<II', *resources)
    table[4 * 8:5 * 8] = struct.pack('<II', *certificate)
    fields += table
    end = min(size, e + len(fields))
    if e < size:
        data[e:end] = fields[:end - e]
    return bytes(data)


def layout(data, magic):
    e = struct.unpack('<I', data[60:64])[0]
    entry = e + (152 if magic == 0x10B else 168)
    padding = 8 - len(data) % 8
    hashed = data[:e + 88] + data[e + 92:entry] + data[entry + 8:] + bytes(padding)
    return e, e + 88, entry, padding, len(data) + padding, hashlib.md5(hashed).hexdigest()


def der_element(data, offset):
    """(start of content, end of element) of the DER element at offset."""
    length = data[offset + 1]
    start = offset + 2
    if length & 0x80:
        digits = length & 0x7F
        length = int.from_bytes(data[start:start + digits], 'big')
        start += digits
    return start, start + length


def der_child(data, offset, index):
    start, end = der_element(data, offset)
    at = start
    for _ in range(index):
        at = der_element(data, at)[1]
    return at


def osslsigncode_digest_info(tool, key, cert, data, algorithm, work):
    """The DigestInfo of the indirect data in osslsigncode's signature of the image. osslsigncode
    pads only sizes that are not multiples of 8; an image of such a size gets its 8 zero bytes here
    so that both sides hash the same bytes."""
    if len(data) % 8 == 0:
        data = data + bytes(8)
    unsigned = os.path.join(work, 'in.exe')
    signed = os.path.join(work, 'out.exe')
    with open(unsigned, 'wb') as f:
        f.write(data)
    if os.path.exists(signed):
        os.remove(signed)
    result = subprocess.run([tool, 'sign', '-h', algorithm, '-certs', cert, '-key', key, '-in', unsigned,
                             '-out', signed], capture_output=True)
    if result.returncode != 0:
        return '-'
    signed_bytes = open(signed, 'rb').read()
    e = struct.unpack('<I', signed_bytes[60:64])[0]
    magic = struct.unpack('<H', signed_bytes[e + 24:e + 26])[0]
    entry = e + (152 if magic == 0x10B else 168)
    table_offset, _ = struct.unpack('<II', signed_bytes[entry:entry + 8])
    der = signed_bytes[table_offset + 8:]
    # ContentInfo -> [0] -> SignedData -> contentInfo -> [0] -> SpcIndirectDataContent -> DigestInfo
    signed_data = der_child(der, der_child(der, 0, 1), 0)
    content_info = der_child(der, signed_data, 2)
    indirect = der_child(der, der_child(der, content_info, 1), 0)
    digest_info = der_child(der, indirect, 1)
    return der[digest_info:der_element(der, digest_info)[1]].hex()


def main():
    openssl, osslsigncode, out = sys.argv[1:4]
    os.makedirs(out, exist_ok=True)
    good = [
        ('pe32_1000', image(size=1000), 0x10B),
        ('pe32_1001', image(size=1001), 0x10B),
        ('pe64_1000', image(magic=0x20B, size=1000), 0x20B),
        # A 64-bit image with resources: its resource entry lies where a 32-bit image has the
        # certificate-table entry.
        ('pe64_resources_4099', image(magic=0x20B, size=4099, resources=(0x3000, 0x1F0), seed=2), 0x20B),
        ('pe32_resources_4099', image(size=4099, resources=(0x3000, 0x1F0), seed=3), 0x10B),
        ('pe32_e_1024_70001', image(size=70001, e=0x400, seed=4), 0x10B),
        ('pe64_e_1024_100000', image(magic=0x20B, size=100000, e=0x400, seed=5), 0x20B),
        ('pe32_just_headers', image(size=0x40 + 264, e=0x40, seed=6), 0x10B),
        ('pe32_five_directories', image(size=2000, directories=5, seed=7), 0x10B),
        ('pe32_optional_header_136', image(size=2000, optional_size=136, seed=8), 0x10B),
        ('pe64_optional_header_152', image(magic=0x20B, size=2000, optional_size=152, seed=9), 0x20B),
        ('pe32_certificate_offset_only', image(size=1500, certificate=(0x1234, 0), seed=10), 0x10B),
    ]
    bad = [
        ('signed32', image(size=3000, certificate=(3000, 1512)), ALREADY_SIGNED),
        ('signed64', image(magic=0x20B, size=3000, certificate=(3000, 1512)), ALREADY_SIGNED),
        ('signed64_with_resources', image(magic=0x20B, size=3000, certificate=(3000, 8), resources=(1, 2)),
         ALREADY_SIGNED),
        ('empty', b'', NOT_EXECUTABLE),
        ('text', b'This is a text file, not a program.\r\n' * 30, NOT_EXECUTABLE),
        ('no_mz', image(size=1000, mz=b'ZM'), NOT_EXECUTABLE),
        ('short_63', b'MZ' + bytes(61), NOT_EXECUTABLE),
        ('dos_header_only', image(size=64, e=64), NOT_EXECUTABLE),
        ('e_past_end', image(size=1000, e=1100), NOT_EXECUTABLE),
        ('e_near_2_32', image(size=1000, e=0xFFFFFFF8), NOT_EXECUTABLE),
        ('e_max', image(size=1000, e=0xFFFFFFFF), NOT_EXECUTABLE),
        ('nt_headers_truncated', image(size=0x80 + 263), NOT_EXECUTABLE),
        ('no_pe_signature', image(size=1000, signature=b'PX\0\0'), NOT_EXECUTABLE),
        ('pe_signature_not_zero', image(size=1000, signature=b'PE\0\1'), NOT_EXECUTABLE),
        ('magic_rom', image(magic=0x107, size=1000), NOT_EXECUTABLE),
        ('magic_zero', image(magic=0, size=1000), NOT_EXECUTABLE),
        ('four_directories', image(size=1000, directories=4), NOT_EXECUTABLE),
        ('no_directories', image(size=1000, directories=0), NOT_EXECUTABLE),
        ('optional_header_135', image(size=1000, optional_size=135), NOT_EXECUTABLE),
        ('optional_header_96', image(size=1000, optional_size=96), NOT_EXECUTABLE),
        ('pe64_optional_header_151', image(magic=0x20B, size=1000, optional_size=151), NOT_EXECUTABLE),
        ('pe64_optional_header_0', image(magic=0x20B, size=1000, optional_size=0), NOT_EXECUTABLE),
    ]
    with tempfile.TemporaryDirectory() as work:
        key = os.path.join(work, 'key.pem')
        cert = os.path.join(work, 'cert.pem')
        subprocess.run([openssl, 'req', '-x509', '-newkey', 'rsa:1024', '-nodes', '-keyout', key, '-out', cert,
                        '-subj', '/CN=PE test signer', '-days', '2'], check=True, capture_output=True)
        lines = []
        for name, data, magic in good:
            e, checksum, entry, padding, table, md5 = layout(data, magic)
            md5_info = osslsigncode_digest_info(osslsigncode, key, cert, data, 'md5', work)
            sha256_info = osslsigncode_digest_info(osslsigncode, key, cert, data, 'sha256', work)
            lines.append(f'{name} 0 {e} {magic} {checksum} {entry} {len(data)} {padding} {table} {md5} '
                         f'{md5_info} {sha256_info}')
            with open(os.path.join(out, name + '.bin'), 'wb') as f:
                f.write(data)
        for name, data, code in bad:
            lines.append(f'{name} {code} 0 0 0 0 {len(data)} 0 0 - - -')
            with open(os.path.join(out, name + '.bin'), 'wb') as f:
                f.write(data)
    with open(os.path.join(out, 'cases.txt'), 'w') as f:
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
