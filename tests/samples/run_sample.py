#!/usr/bin/env python3
"""Runs a script of samples/ with `ombrix cscript` as a user runs it, then checks every line it
printed and the files it wrote against independent implementations (hashlib, hmac, zlib, the
openssl command, osslsigncode).

usage: run_sample.py demo|encrypt_file|sign_exe OMBRIX OPENSSL OSSLSIGNCODE WORK

WORK is emptied and receives the files the sample writes. A sample that stops on a run-time
error (Wine's script host then ends silently with status 0) misses lines and fails.
"""
import base64
import hashlib
import hmac
import os
import random
import re
import shutil
import subprocess
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.join(HERE, '..', '..', 'samples')
sys.path.insert(0, os.path.join(HERE, '..', 'control'))
sys.path.insert(0, os.path.join(HERE, '..', 'codesign'))
from make_cipher_vectors import openssl_enc  # noqa: E402
from make_codesign_data import check_structure  # noqa: E402
import tsa_server  # noqa: E402


def windows_path(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def run_sample(ombrix, name, *arguments):
    """The lines the sample printed, without line ends."""
    script = os.path.join(SAMPLES, name + '.vbs')
    result = subprocess.run([ombrix, 'cscript', script, *arguments], stdout=subprocess.PIPE, timeout=600)
    text = result.stdout.decode('latin-1').replace('\r\n', '\n')
    print(text)
    if result.returncode != 0:
        sys.exit('%s: the script host ended with status %d' % (name, result.returncode))
    return text.split('\n')[:-1] if text.endswith('\n') else text.split('\n')


def expect_lines(name, lines, expected):
    """Each line equals its expected text, or fully matches its expected pattern; the matches."""
    matches = []
    for number, want in enumerate(expected):
        got = lines[number] if number < len(lines) else None
        match = None
        if got is not None:
            match = want.fullmatch(got) if isinstance(want, re.Pattern) else (got == want or None)
        if got is None:
            sys.exit('%s: the output ends before line %d (a run-time error stops the script silently), expected %r'
                     % (name, number + 1, getattr(want, 'pattern', want)))
        if not match:
            sys.exit('%s: line %d is %r, expected %r' % (name, number + 1, got, getattr(want, 'pattern', want)))
        matches.append(match)
    if len(lines) > len(expected):
        sys.exit('%s: unexpected lines after the last expected one: %r' % (name, lines[len(expected):]))
    return matches


def check_optimized_header(name, header, length):
    """Bytes 1-4 hold the plaintext length negated (big-endian), 5-8 and 13 are zero."""
    stored = int.from_bytes(header[1:5], 'big')
    if stored != (-length) % 2**32 or header[5:9] != bytes(4) or header[13] != 0:
        sys.exit('%s: optimized header %s does not announce %d bytes' % (name, header.hex(), length))


def inflate(data):
    """The zlib stream at the start of `data` and the bytes after it; None when it does not inflate."""
    inflater = zlib.decompressobj()
    try:
        return inflater.decompress(data), inflater.unused_data
    except zlib.error:
        return None, None


def check_demo(ombrix, openssl, osslsigncode, work):
    message = b'Meet me at the old mill at midnight. Bring the map.'
    key, iv = b'sixteen byte key', b'an initial value'
    fox = b'The quick brown fox jumps over the lazy dog'
    signature = subprocess.run([openssl, 'dgst', '-sha1', '-sign', os.path.join(SAMPLES, 'demo_signer_key.pem')],
                               input=b'I owe you 100 pounds.', stdout=subprocess.PIPE, check=True).stdout
    attack = b'Attack at dawn'
    file_text = 'A file on disk, encrypted into another file by two file blobs.'
    temp_file = r'C:\\users\\[^\\]+\\Temp\\[^\\:]+'
    lines = run_sample(ombrix, 'demo')
    matches = expect_lines('demo', lines, [
        'Ombrix version 2.2.5.115',
        'Default algorithm type 2: key 16 bytes, block 16 bytes',
        'Mode 0, padding 0, compression 0, optimized True, text code page 65001',
        'After choosing AES256: key 32 bytes, block 16 bytes',
        'Error 30004 from Kestrane.Ombrix.1: Selected Type not supported.',
        'The algorithm stays type 4',
        'Text "Attack at dawn" is hex %s and Base64 %s' % (attack.hex(), base64.b64encode(attack).decode()),
        'Decoded back from Base64: "Attack at dawn"',
        re.compile(r'Encrypted \(Base64\): ([A-Za-z0-9+/]+=*)'),
        'Decrypted: "%s"' % message.decode(),
        'With a wrong key: Failed to decompress data.',
        'SHA-256 of "abc": ' + hashlib.sha256(b'abc').hexdigest(),
        'HMAC-SHA256: ' + hmac.new(b'key', fox, hashlib.sha256).hexdigest(),
        'RSA-SHA1 signature (Base64): %s...' % base64.b64encode(signature).decode()[:40],
        'Signature valid: True',
        'Signature valid for changed text: False',
        re.compile(r'Encrypted file %s: ([0-9a-f]{32})\.\.\.' % temp_file),
        'Decrypted file: ' + file_text,
        re.compile(r'Signed C:\\windows\\system32\\attrib\.exe into %s' % temp_file),
        'VerifyEXE: signature valid, signer certificate returned: True',
    ])
    # AES-128-CBC of the zlib stream with PKCS#7 padding, after the 16-byte optimized header.
    encrypted = base64.b64decode(matches[8].group(1))
    check_optimized_header('demo', encrypted[:16], len(message))
    plain = openssl_enc(openssl, 'aes-128-cbc', key, iv, encrypted[16:], pad=True, decrypt=True)
    if inflate(plain) != (message, b''):
        sys.exit('demo: openssl and zlib do not restore the message from the printed ciphertext')
    check_optimized_header('demo', bytes.fromhex(matches[16].group(1)), len(file_text))


def check_encrypt_file(ombrix, openssl, osslsigncode, work):
    # Text and random runs, over two read chunks of the control (128000 bytes each).
    rng = random.Random(11)
    data = b''.join(rng.randbytes(rng.randrange(1, 300)) + b'Line of sample text. ' * rng.randrange(1, 40)
                    for _ in range(600))[:300001]
    source = os.path.join(work, 'input.bin')
    with open(source, 'wb') as f:
        f.write(data)
    target = source + '.enc'  # the sample's default output name
    lines = run_sample(ombrix, 'encrypt_file', windows_path(source))
    size = os.path.getsize(target)
    expect_lines('encrypt_file', lines, [
        '(this script host cannot receive events: no progress printout)',
        'Encrypting %s into %s' % (windows_path(source), windows_path(target)),
        'Encrypted size: %d bytes (input %d)' % (size, len(data)),
        'Decrypting into a temporary file',
        'Restored equals input: True',
    ])
    # AES-256-CBC of the zlib stream, zero-padded, after the 16-byte optimized header.
    with open(target, 'rb') as f:
        encrypted = f.read()
    check_optimized_header('encrypt_file', encrypted[:16], len(data))
    plain = openssl_enc(openssl, 'aes-256-cbc', b'a passphrase of thirty-two bytes', b'sixteen byte IV.',
                        encrypted[16:], decrypt=True)
    restored, rest = inflate(plain)
    if restored != data or rest.strip(b'\0'):
        sys.exit('encrypt_file: openssl and zlib do not restore the input from the encrypted file')


def opus_info(description, url):
    """The opus information DER: [0] { [0] IMPLICIT BMPString }, [1] { [0] IMPLICIT IA5String }."""
    def tlv(tag, content):
        return bytes([tag, len(content)]) + content
    text = description.encode('latin-1')
    wide = b''.join(b'\0' + bytes([c]) for c in text)
    return tlv(0x30, tlv(0xA0, tlv(0x80, wide)) + tlv(0xA1, tlv(0x80, url.encode('latin-1'))))


def check_sign_exe(ombrix, openssl, osslsigncode, work):
    description, url = 'Signed by the sample test', 'https://example.invalid/sample-test'
    signed_path = os.path.join(work, 'signed.exe')
    with tsa_server.running(openssl, os.path.join(work, 'tsa')) as port:
        # Program, certificate and key stay the sample's defaults (empty arguments).
        lines = run_sample(ombrix, 'sign_exe', '', windows_path(signed_path), '', '',
                           'http://127.0.0.1:%d/rfc3161' % port, description, url)
    with open(os.path.join(SAMPLES, 'demo_signer_cert.pem')) as f:
        certificate = f.read().replace('\r\n', '\n').rstrip('\n').split('\n')
    expect_lines('sign_exe', lines, [
        r'Signed and time-stamped C:\windows\system32\attrib.exe into ' + windows_path(signed_path),
        'Signature valid.',
        'Signer certificate:',
        *certificate,
        '',
    ])
    prefix = os.environ.get('WINEPREFIX') or os.path.join(HERE, '..', '..', '.wine')
    with open(os.path.join(prefix, 'drive_c', 'windows', 'system32', 'attrib.exe'), 'rb') as f:
        unsigned = f.read()
    with open(signed_path, 'rb') as f:
        der = check_structure(unsigned, f.read(), 'sign_exe', 'sha256')
    # The description and URL are the opus information attribute (1.3.6.1.4.1.311.2.1.12).
    opus = opus_info(description, url)
    if bytes.fromhex('060a2b06010401823702010c31') + bytes([len(opus)]) + opus not in der:
        sys.exit('sign_exe: the opus information does not hold the description and URL given')
    # The time stamp is an RFC 3161 token (attribute 1.3.6.1.4.1.311.3.3.1) among the unauthenticated
    # attributes, and osslsigncode verifies it against the test time-stamp authority.
    if bytes.fromhex('060a2b060104018237030301') not in der:
        sys.exit('sign_exe: no RFC 3161 time stamp in the signature')
    result = subprocess.run([osslsigncode, 'verify', '-CAfile', os.path.join(SAMPLES, 'demo_signer_cert.pem'),
                             '-TSA-CAfile', os.path.join(work, 'tsa', 'ca.pem'), '-in', signed_path],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    text = result.stdout.decode(errors='replace')
    print(text)
    for needed in ('Signature verification: ok', 'Timestamp Server Signature verification: ok',
                   'Message digest algorithm  : SHA256',
                   'Text description: ' + description, 'URL description: ' + url):
        if result.returncode != 0 or needed not in text:
            sys.exit('sign_exe: osslsigncode verify does not report %r' % needed)


def main():
    name, ombrix, openssl, osslsigncode, work = sys.argv[1:6]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    {'demo': check_demo, 'encrypt_file': check_encrypt_file, 'sign_exe': check_sign_exe}[name](
        ombrix, openssl, osslsigncode, work)
    print('sample %s: every line and file as expected' % name)


if __name__ == '__main__':
    main()
