#!/usr/bin/env python3
"""Writes the release bundle Ombrix-<version>.zip from the built tree and prints its path.

  make_package.py ROOT BUILD OUT_DIR

ROOT is the checkout, BUILD its build/ folder (build/bin and build/bin/x86 built, the type library,
header and GUID file generated in build/cmake/gen/interface), OUT_DIR where the zip goes.
"""
import os
import re
import sys
import zipfile

REGISTER = r"""@echo off
rem Registers Ombrix.dll for 64-bit hosts (x64\) and 32-bit hosts (x86\). Run it from an elevated
rem prompt. On 32-bit Windows only the 32-bit DLL is registered.
setlocal
set "HERE=%~dp0"
set "NATIVE=%SystemRoot%\System32"
rem A 32-bit prompt on 64-bit Windows reaches the 64-bit System32 as Sysnative.
if exist "%SystemRoot%\Sysnative\regsvr32.exe" set "NATIVE=%SystemRoot%\Sysnative"
if not exist "%SystemRoot%\SysWOW64\regsvr32.exe" goto only32
"%NATIVE%\regsvr32.exe" /s {flag}"%HERE%x64\Ombrix.dll"
if errorlevel 1 goto failed
"%SystemRoot%\SysWOW64\regsvr32.exe" /s {flag}"%HERE%x86\Ombrix.dll"
if errorlevel 1 goto failed
goto done
:only32
"%NATIVE%\regsvr32.exe" /s {flag}"%HERE%x86\Ombrix.dll"
if errorlevel 1 goto failed
:done
echo Ombrix {done}.
exit /b 0
:failed
echo regsvr32 failed: is this prompt elevated?
exit /b 1
"""

# Files of the samples folder that need the certificate stand-in (sign_exe.vbs and demo.vbs
# create Kestrane.Certificate): it goes there under a name that says what it is.
STANDIN_NOTE = """CertificateStandIn.dll (x64\\ and x86\\) is a stand-in for the certificate component that
sign_exe.vbs and demo.vbs create as Kestrane.Certificate. It exists for the samples only; use
your certificate component in applications. Register it like Ombrix.dll, with the regsvr32 of
the matching width, to run those samples.
"""


def version(root):
    header = open(os.path.join(root, 'Component', 'control', 'Ombrix.h')).read()
    return re.search(r'kVersion\[\] = "([0-9.]+)"', header).group(1)


def notices(root):
    """The third-party notices with the Apache License 2.0 text (OpenSSL's) that Debian ships."""
    text = open(os.path.join(root, 'THIRD-PARTY-NOTICES')).read()
    apache = '/usr/share/common-licenses/Apache-2.0'
    if not os.path.isfile(apache):
        sys.exit('make_package: %s is missing (package base-files)' % apache)
    return (text + '\n' + open(apache).read()).replace('\n', '\r\n').encode('utf-8')


def cmd_text(text):
    return text.replace('\n', '\r\n').encode('ascii')


def main():
    root, build, out_dir = sys.argv[1:4]
    name = 'Ombrix-%s' % version(root)
    interface = os.path.join(build, 'cmake', 'gen', 'interface')
    files = []  # (path in the zip, source path or bytes)
    for arch, bin_dir in (('x64', os.path.join(build, 'bin')), ('x86', os.path.join(build, 'bin', 'x86'))):
        for program in ('Ombrix.dll', 'Lumvane.exe'):
            files.append(('%s/%s' % (arch, program), os.path.join(bin_dir, program)))
        files.append(('samples/%s/CertificateStandIn.dll' % arch, os.path.join(bin_dir, 'Certificate.dll')))
    files += [('Ombrix.tlb', os.path.join(interface, 'Ombrix.tlb')),
              ('include/Ombrix_h.h', os.path.join(interface, 'Ombrix_h.h')),
              ('include/Ombrix_i.c', os.path.join(interface, 'Ombrix_i.c')),
              ('README.md', os.path.join(root, 'README.md')),
              ('LICENSE.txt', os.path.join(root, 'LICENSE')),
              ('THIRD-PARTY-NOTICES.txt', notices(root)),
              ('samples/CertificateStandIn.txt', cmd_text(STANDIN_NOTE)),
              ('register.cmd', cmd_text(REGISTER.replace('{flag}', '').replace('{done}', 'registered'))),
              ('unregister.cmd', cmd_text(REGISTER.replace('{flag}', '/u ').replace('{done}', 'unregistered')))]
    samples = os.path.join(root, 'samples')
    for folder, _, names in os.walk(samples):
        for file_name in sorted(names):
            path = os.path.join(folder, file_name)
            files.append(('samples/' + os.path.relpath(path, samples).replace(os.sep, '/'), path))

    os.makedirs(out_dir, exist_ok=True)
    target = os.path.join(out_dir, name + '.zip')
    partial = target + '.partial'
    with zipfile.ZipFile(partial, 'w', zipfile.ZIP_DEFLATED) as bundle:
        for inside, source in files:
            if isinstance(source, bytes):
                bundle.writestr('%s/%s' % (name, inside), source)
            else:
                if not os.path.isfile(source):
                    sys.exit('make_package: %s is missing (build first)' % source)
                bundle.write(source, '%s/%s' % (name, inside))
    os.replace(partial, target)
    print(target)


if __name__ == '__main__':
    main()
