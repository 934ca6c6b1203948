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
    """osslsigncode -t against tsa_server.py (the tests' time-stamp server) for VerifyEXE."""
    with tsa_server.running(openssl, os.path.join(out, 'ossl_tsa')) as port:
        signed = os.path.join(out, 'osslsigncode64_stamped.exe')
        if os.path.exists(signed):
            os.remove(signed)
        run(osslsigncode, 'sign', '-certs', os.path.join(out, 'signer.pem'), '-key', os.path.join(out, 'signer.key'),
            '-h', 'sha256', '-t', 'http://127.0.0.1:%d/ok' % port, '-in', os.path.join(out, 'unsigned64_odd.exe'),
            '-out', signed)


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


def check_structure(unsigned, signed, name):
    e, entry = layout(unsigned)
    size = len(unsigned)
    padding = 8 - size % 8
    table_offset, table_length = struct.unpack_from('<II', signed, entry)
    problems = []
    if signed[e + 88:e + 92] != b'\0\0\0\0':
        problems.append('checksum not zero')
    if table_offset != size + padding:
        problems.append('table offset %d, expected %d' % (table_offset, size + padding))
    expected = bytearray(unsigned)
    expected[e + 88:e + 92] = b'\0\0\0\0'
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
    # The signed image digest: the 16 bytes after the indirect data's MD5 algorithm.
    hashed = unsigned[:e + 88] + unsigned[e + 92:entry] + unsigned[entry + 8:] + b'\0' * padding
    marker = bytes.fromhex('300c06082a864886f70d020505000410')
    at = der.find(marker)
    if at < 0 or der[at + len(marker):at + len(marker) + 16] != hashlib.md5(hashed).digest():
        problems.append('signed image digest is not the MD5 of the hashed ranges')
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
        der = check_structure(unsigned, open(path, 'rb').read(), name)
        opus_kind = name.split('__')[1][:-4] if '__' in name else 'none'
        opus_oid = bytes.fromhex('060a2b06010401823702010c')
        if opus_kind in OPUS and OPUS[opus_kind] not in der:
            sys.exit('%s: opus information missing or wrong' % name)
        if opus_kind == 'none' and opus_oid in der:
            sys.exit('%s: opus information present without description or URL' % name)
        command = [osslsigncode, 'verify', '-CAfile', os.path.join(out, 'ca.pem'), '-in', path]
        stamped = opus_kind == 'stamped'
        if stamped:
            command[2:2] = ['-TSA-CAfile', os.path.join(out, 'tsa', 'ca.pem')]
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        text = result.stdout.decode(errors='replace')
        if result.returncode != 0 or 'Signature verification: ok' not in text:
            sys.exit('%s: osslsigncode verify failed:\n%s' % (name, text))
        if stamped and 'Timestamp Server Signature verification: ok' not in text:
            sys.exit('%s: the time stamp does not verify:\n%s' % (name, text))
        print('%s: structure, digest and osslsigncode verify ok' % name)
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
