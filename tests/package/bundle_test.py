#!/usr/bin/env python3
"""The release bundle as a user takes it: made by tools/make_package.py, unpacked, registered with
its own register.cmd under Wine, its demo sample run with the 64-bit and the 32-bit script host
against the bundle's DLLs (every line checked by run_sample.py), unregistered with unregister.cmd.
At the end the build's own DLLs are registered again for the tests that follow.

usage: bundle_test.py ROOT BUILD WORK OPENSSL OSSLSIGNCODE
"""
import os
import struct
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
WINE64 = '/usr/lib/wine/wine64' if os.path.exists('/usr/lib/wine/wine64') else 'wine'
OMBRIX_CLASS = r'HKCR\CLSID\{A80E4BE2-8434-4AFB-8AEC-B4A95812A0FF}\InprocServer32'


def windows_path(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def wine(width, program, *arguments):
    """A Wine program of system32 (64) or syswow64 (32) with the loader of that width."""
    loader, folder = (WINE64, 'system32') if width == 64 else ('wine', 'syswow64')
    return subprocess.run([loader, 'C:\\windows\\%s\\%s' % (folder, program), *arguments],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)


def machine(path):
    data = open(path, 'rb').read(4096)
    e = struct.unpack_from('<I', data, 60)[0]
    return struct.unpack_from('<H', data, e + 4)[0]


def registered_path(width, key):
    result = wine(width, 'reg.exe', 'query', key)
    for line in result.stdout.decode('latin-1').splitlines():
        if 'REG_SZ' in line and '(Default)' in line:
            return line.split('REG_SZ', 1)[1].strip()
    return None


def main():
    root, build, work, openssl, osslsigncode = sys.argv[1:6]
    made = subprocess.run([sys.executable, os.path.join(root, 'tools', 'make_package.py'), root, build,
                           os.path.join(work, 'dist')], stdout=subprocess.PIPE, check=True)
    archive = made.stdout.decode().strip().splitlines()[-1]
    name = os.path.basename(archive)[:-len('.zip')]
    with zipfile.ZipFile(archive) as bundle:
        entries = set(bundle.namelist())
        bundle.extractall(work)
    base = os.path.join(work, name)
    for needed in ('x64/Ombrix.dll', 'x64/Lumvane.exe', 'x86/Ombrix.dll', 'x86/Lumvane.exe', 'Ombrix.tlb',
                   'include/Ombrix_h.h', 'include/Ombrix_i.c', 'README.md', 'LICENSE.txt',
                   'THIRD-PARTY-NOTICES.txt', 'register.cmd', 'unregister.cmd', 'samples/demo.vbs',
                   'samples/sign_exe.vbs', 'samples/x64/CertificateStandIn.dll',
                   'samples/x86/CertificateStandIn.dll'):
        if '%s/%s' % (name, needed) not in entries:
            sys.exit('bundle: %s is missing' % needed)
    if any(entry.endswith('/Certificate.dll') for entry in entries):
        sys.exit('bundle: the certificate stand-in is there under its build name')
    for arch, expected in (('x64', 0x8664), ('x86', 0x14C)):
        for program in ('Ombrix.dll', 'Lumvane.exe'):
            if machine(os.path.join(base, arch, program)) != expected:
                sys.exit('bundle: %s/%s is not built for %s' % (arch, program, arch))

    try:
        result = wine(64, 'cmd.exe', '/c', windows_path(os.path.join(base, 'register.cmd')))
        print(result.stdout.decode('latin-1'))
        if result.returncode != 0:
            sys.exit('bundle: register.cmd failed with %d' % result.returncode)
        for width, arch in ((64, 'x64'), (32, 'x86')):
            path = registered_path(width, OMBRIX_CLASS)
            if path is None or path.lower() != windows_path(os.path.join(base, arch, 'Ombrix.dll')).lower():
                sys.exit('bundle: the %d-bit registration names %s' % (width, path))
            stand_in = os.path.join(base, 'samples', arch, 'CertificateStandIn.dll')
            if wine(width, 'regsvr32.exe', '/s', windows_path(stand_in)).returncode != 0:
                sys.exit('bundle: the %s certificate stand-in does not register' % arch)
        for host in ('cscript', 'cscript32'):
            environment = dict(os.environ, OMBRIX_NO_BUILD='1', OMBRIX_CSCRIPT=host,
                               OMBRIX_SAMPLES=os.path.join(base, 'samples'))
            ran = subprocess.run([sys.executable, os.path.join(HERE, '..', 'samples', 'run_sample.py'), 'demo',
                                  os.path.join(root, 'ombrix'), openssl, osslsigncode,
                                  os.path.join(work, 'demo_' + host)], env=environment)
            if ran.returncode != 0:
                sys.exit('bundle: the demo sample fails under %s' % host)
        result = wine(64, 'cmd.exe', '/c', windows_path(os.path.join(base, 'unregister.cmd')))
        if result.returncode != 0:
            sys.exit('bundle: unregister.cmd failed with %d' % result.returncode)
        for width in (64, 32):
            if registered_path(width, OMBRIX_CLASS) is not None:
                sys.exit('bundle: unregister.cmd left the %d-bit registration' % width)
    finally:
        for dll in ('Ombrix.dll', 'Certificate.dll'):
            wine(64, 'regsvr32.exe', '/s', windows_path(os.path.join(build, 'bin', dll)))
            wine(32, 'regsvr32.exe', '/s', windows_path(os.path.join(build, 'bin', 'x86', dll)))
    print('bundle %s: contents, register.cmd, demo with both script hosts, unregister.cmd ok' % name)


if __name__ == '__main__':
    main()
