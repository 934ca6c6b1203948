#!/usr/bin/env python3
"""Programs, keys and reference signatures for the SignEXE and VerifyEXE tests, and the checks
of what the test signed.

  generate OPENSSL OSSLSIGNCODE SOURCE_DIR OUT   test CA and signer, programs built by mingw
                                                 (64-bit, and 32-bit when that compiler is
                                                 installed), osslsigncode-signed copies
  check OPENSSL OSSLSIGNCODE WINE OUT            every signed_*.exe the test wrote: structure,
                                                 image digest, opus information, osslsigncode
                                                 verify, and the 64-bit program still runs
"""
import glob
import hashlib
import os
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'codesign'))
import tsa_server  # noqa: E402


def run(*command, **kwargs):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kwargs)


def make_keys(openssl, out):
    def path(name):
        return os.path.join(out, name)
    run(openssl, 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', path('ca.key'), '-out', path('ca.pem'),
        '-days', '3650', '-subj', '/CN=Ombrix test root', '-addext', 'basicConstraints=critical,CA:TRUE',
        '-addext', 'keyUsage=critical,keyCertSign,cRLSign')
    run(openssl, 'req', '-newkey', 'rsa:1024', '-nodes', '-keyout', path('signer.key'), '-out', path('signer.csr'),
        '-subj', '/CN=Ombrix test signer')
    with open(path('signer.ext'), 'w') as ext:
        ext.write('basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n')
    run(openssl, 'x509', '-req', '-in', path('signer.csr'), '-CA', path('ca.pem'), '-CAkey', path('ca.key'),
        '-CAcreateserial', '-days', '3650', '-out', path('signer.pem'), '-extfile', path('signer.ext'))
    run(openssl, 'genpkey', '-algorithm', 'RSA', '-pkeyopt', 'rsa_keygen_bits:1024', '-out', path('other.key'))
    # A PFX of the signer for the certificate store.
    run(openssl, 'pkcs12', '-export', '-in', path('signer.pem'), '-inkey', path('signer.key'), '-out',
        path('signer.pfx'), '-passout', 'pass:', '-keypbe', 'PBE-SHA1-3DES', '-certpbe', 'PBE-SHA1-3DES',
        '-macalg', 'sha1')


def build_programs(source_dir, out):
    built = []
    for bits, prefix in (('64', 'x86_64-w64-mingw32'), ('32', 'i686-w64-mingw32')):
        compiler = shutil.which(prefix + '-gcc-posix') or shutil.which(prefix + '-gcc')
        windres = shutil.which(prefix + '-windres')
        if not compiler or not windres:
            print('no %s compiler: %s-bit program skipped' % (prefix, bits))
            continue
        resource = os.path.join(out, 'hello%s.res.o' % bits)
        run(windres, os.path.join(source_dir, 'hello.rc'), '-O', 'coff', '-o', resource)
        program = os.path.join(out, 'hello%s.exe' % bits)
        run(compiler, '-O2', '-s', os.path.join(source_dir, 'hello.c'), resource, '-o', program)
        data = open(program, 'rb').read()
        # Trailing bytes make the other size class: one program a multiple of 8, one not.
        aligned = data + b'\0' * ((8 - len(data) % 8) % 8)
        open(os.path.join(out, 'unsigned%s_aligned.exe' % bits), 'wb').write(aligned)
        open(os.path.join(out, 'unsigned%s_odd.exe' % bits), 'wb').write(aligned + b'odd')
        built.append(bits)
    return built


def generate(openssl, osslsigncode, source_dir, out):
    os.makedirs(out, exist_ok=True)
    make_keys(openssl, out)
    for bits in build_programs(source_dir, out):
        for digest in ('md5', 'sha256'):
            signed = os.path.join(out, 'osslsigncode%s_%s.exe' % (bits, digest))
            if os.path.exists(signed):
                os.remove(signed)  # osslsigncode does not overwrite
            run(osslsigncode, 'sign', '-certs', os.path.join(out, 'signer.pem'), '-key', os.path.join(out, 'signer.key'),
                '-h', digest, '-in', os.path.join(out, 'unsigned%s_odd.exe' % bits),
                '-out', signed)
    stamp_with_osslsigncode(osslsigncode, openssl, out)
    open(os.path.join(out, 'text.exe'), 'wb').write(b'This is a text file, not a program.\n' * 40)


def stamp_with_osslsigncode(osslsigncode, openssl, out):
    """osslsigncode -t (legacy) and -ts (RFC 3161) against tsa_server.py, the tests' time-stamp
    server, for VerifyEXE."""
    with tsa_server.running(openssl, os.path.join(out, 'ossl_tsa')) as port:
        for name, option, mode in (('stamped', '-t', 'ok'), ('rfc3161', '-ts', 'rfc3161')):
            signed = os.path.join(out, 'osslsigncode64_%s.exe' % name)
            if os.path.exists(signed):
                os.remove(signed)
            run(osslsigncode, 'sign', '-certs', os.path.join(out, 'signer.pem'), '-key',
                os.path.join(out, 'signer.key'), '-h', 'sha256', option, 'http://127.0.0.1:%d/%s' % (port, mode),
                '-in', os.path.join(out, 'unsigned64_odd.exe'), '-out', signed)


def layout(data):
    e = struct.unpack_from('<I', data, 60)[0]
    magic = struct.unpack_from('<H', data, e + 24)[0]
    entry = e + (152 if magic == 0x10B else 168)
    return e, entry


def der_length(data, offset):
    first = data[offset + 1]
    if first < 0x80:
        return 2, first
    digits = first & 0x7F
    return 2 + digits, int.from_bytes(data[offset + 2:offset + 2 + digits], 'big')


DIGEST_OIDS = {
    'md5': bytes.fromhex('06082a864886f70d0205'),
    'sha1': bytes.fromhex('06052b0e03021a'),
    'sha256': bytes.fromhex('0609608648016503040201'),
    'sha384': bytes.fromhex('0609608648016503040202'),
    'sha512': bytes.fromhex('0609608648016503040203'),
}


def digest_of(name):
    """The digest a test file name asks for (its suffix names a SHA type), MD5 otherwise."""
    suffix = name.split('__')[1] if '__' in name else ''
    return next((d for d in ('sha1', 'sha256', 'sha384', 'sha512') if d in suffix.split('_')), 'md5')


def pe_checksum(image, checksum_offset):
    """The header checksum as the loader computes it: 16-bit words with end-around carry (the
    checksum field as zero), plus the file length."""
    data = bytearray(image)
    data[checksum_offset:checksum_offset + 4] = b'\0\0\0\0'
    if len(data) % 2:
        data += b'\0'
    total = sum(word for (word,) in struct.iter_unpack('<H', data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def check_structure(unsigned, signed, name, digest):
    e, entry = layout(unsigned)
    size = len(unsigned)
    padding = 8 - size % 8
    table_offset, table_length = struct.unpack_from('<II', signed, entry)
    problems = []
    checksum = struct.unpack_from('<I', signed, e + 88)[0]
    expected_checksum = 0 if digest == 'md5' else pe_checksum(signed, e + 88)
    if checksum != expected_checksum:
        problems.append('checksum %08X, expected %08X' % (checksum, expected_checksum))
    if table_offset != size + padding:
        problems.append('table offset %d, expected %d' % (table_offset, size + padding))
    expected = bytearray(unsigned)
    expected[e + 88:e + 92] = signed[e + 88:e + 92]
    expected[entry:entry + 8] = signed[entry:entry + 8]
    if signed[:size] != bytes(expected):
        problems.append('image bytes other than checksum and entry changed')
    if signed[size:size + padding] != b'\0' * padding:
        problems.append('padding not zero')
    length, revision, kind = struct.unpack_from('<IHH', signed, table_offset)
    if length != table_length or table_offset + length != len(signed):
        problems.append('table length %d, entry %d, file end %d' % (length, table_length, len(signed) - table_offset))
    if revision != 0x200 or kind != 2:
        problems.append('table header %x %x' % (revision, kind))
    der = signed[table_offset + 8:]
    header, body = der_length(der, 0)
    der_end = header + body
    q = 8 - der_end % 8
    if length != der_end + q + 8 or der[der_end:] != b'\0' * q:
        problems.append('DER %d bytes, Q %d, table %d' % (der_end, q, length))
    # The signed image digest: the bytes after the indirect data's digest algorithm.
    hashed = unsigned[:e + 88] + unsigned[e + 92:entry] + unsigned[entry + 8:] + b'\0' * padding
    image_digest = hashlib.new(digest, hashed).digest()
    algorithm = DIGEST_OIDS[digest] + b'\x05\x00'
    marker = bytes([0x30, len(algorithm)]) + algorithm + bytes([0x04, len(image_digest)])
    at = der.find(marker)
    if at < 0 or der[at + len(marker):at + len(marker) + len(image_digest)] != image_digest:
        problems.append('signed image digest is not the %s of the hashed ranges' % digest)
    if problems:
        sys.exit('%s: %s' % (name, '; '.join(problems)))
    return der


OPUS = {
    'desc_url': bytes.fromhex('300da00680040041004' + '2a103800175'),
    'url_only': bytes.fromhex('3009a0028000a103800175'),
}


def check(openssl, osslsigncode, wine, out):
    signed_files = sorted(glob.glob(os.path.join(out, 'signed_*.exe')))
    if not signed_files:
        sys.exit('the test wrote no signed programs')
    for path in signed_files:
        name = os.path.basename(path)
        source = name[:-len('.exe')].split('__')[0][len('signed_'):]
        unsigned = open(os.path.join(out, source + '.exe'), 'rb').read()
        digest = digest_of(name[:-len('.exe')])
        der = check_structure(unsigned, open(path, 'rb').read(), name, digest)
        opus_kind = name.split('__')[1][:-4] if '__' in name else 'none'
        opus_oid = bytes.fromhex('060a2b06010401823702010c')
        if opus_kind in OPUS and OPUS[opus_kind] not in der:
            sys.exit('%s: opus information missing or wrong' % name)
        if opus_kind == 'none' and opus_oid in der:
            sys.exit('%s: opus information present without description or URL' % name)
        command = [osslsigncode, 'verify', '-CAfile', os.path.join(out, 'ca.pem'), '-in', path]
        stamped = opus_kind.endswith('stamped')
        if stamped:
            command[2:2] = ['-TSA-CAfile', os.path.join(out, 'tsa', 'ca.pem')]
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        text = result.stdout.decode(errors='replace')
        if result.returncode != 0 or 'Signature verification: ok' not in text:
            sys.exit('%s: osslsigncode verify failed:\n%s' % (name, text))
        if stamped and 'Timestamp Server Signature verification: ok' not in text:
            sys.exit('%s: the time stamp does not verify:\n%s' % (name, text))
        if 'Message digest algorithm  : %s\n' % digest.upper() not in text or 'MISMATCH' in text:
            sys.exit('%s: osslsigncode names another digest or checksum than %s:\n%s' % (name, digest, text))
        print('%s: structure, %s digest, checksum and osslsigncode verify ok' % (name, digest))
    program = os.path.join(out, 'signed_unsigned64_odd.exe')
    if os.path.exists(program):
        ran = subprocess.run([wine, program], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if ran.returncode != 7 or b'hello from a signed program' not in ran.stdout:
            sys.exit('the signed 64-bit program does not run: exit %d' % ran.returncode)
        print('the signed 64-bit program runs')


if __name__ == '__main__':
    if sys.argv[1] == 'generate':
        generate(*sys.argv[2:6])
    else:
        check(*sys.argv[2:6])
