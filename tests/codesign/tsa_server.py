#!/usr/bin/env python3
"""A loopback time-stamp server for the time-stamp client's test, in the legacy Authenticode
protocol, with modes that misbehave on purpose.

usage: tsa_server.py --openssl PATH --dir DIR --port-file FILE

At start it makes a test CA, a TSA certificate issued by it and a 1024-bit signer key and
certificate (all in DIR, with the openssl command), listens on a free loopback port and writes
the port to FILE. It stops when its parent process (the test program) ends, on a POST to
/shutdown, or after ten minutes.

The first segment of the request path chooses the behaviour:
  /strict/HOST/HEX  the request must be byte for byte the one this script builds for the signature
                    value HEX sent to HOST (mismatch: 400, and the difference in DIR/mismatch.txt);
                    the answer is a SignedData of the signature value made by the test TSA
  /ok               any well-formed request; answered as /strict, status line HTTP/1.1
  /noheaders        as /ok, but the status line is followed directly by the empty line
  /status500, /status404, /garbage, /notpkcs7, /notsigned, /nosigner, /truncated,
  /endless, /trickle, /silent, /close   the failures their names say
Every SignedData answered is also written to DIR/last_response.der.

Python tests start it with `running(openssl, dir)`, a context manager that yields the port.
"""
import argparse
import base64
import contextlib
import os
import random
import socketserver
import subprocess
import sys
import tempfile
import threading
import time

REQUEST_OID = bytes.fromhex('060a2b060104018237030201')
DATA_OID = bytes.fromhex('06092a864886f70d010701')


def der(tag, content):
    n = len(content)
    if n < 0x80:
        length = bytes([n])
    else:
        digits = n.to_bytes((n.bit_length() + 7) // 8, 'big')
        length = bytes([0x80 | len(digits)]) + digits
    return bytes([tag]) + length + content


def expected_request_der(signature):
    """SpcTimeStampRequest { 1.3.6.1.4.1.311.3.2.1, { pkcs7-data, [0] EXPLICIT OCTET STRING } }"""
    blob = der(0x30, DATA_OID + der(0xA0, der(0x04, signature)))
    return der(0x30, REQUEST_OID + blob)


def base64_lines(data):
    text = base64.b64encode(data)
    return b''.join(text[i:i + 64] + b'\n' for i in range(0, len(text), 64))


def der_children(data):
    """The (tag, content) elements one level down in a DER element's content."""
    out = []
    i = 0
    while i < len(data):
        tag = data[i]
        n = data[i + 1]
        i += 2
        if n & 0x80:
            k = n & 0x7F
            n = int.from_bytes(data[i:i + k], 'big')
            i += k
        out.append((tag, data[i:i + n]))
        i += n
    return out


def signature_of_request(body):
    """The signature value inside a Base64 SpcTimeStampRequest."""
    request = der_children(base64.b64decode(body))[0][1]
    blob = der_children(request)[1][1]
    explicit = der_children(blob)[1][1]
    return der_children(explicit)[0][1]


class Authority:
    def __init__(self, openssl, directory):
        self.openssl = openssl
        self.dir = directory
        self.lock = threading.Lock()
        os.makedirs(directory, exist_ok=True)
        path = self.path
        self.run('req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', path('ca.key'), '-out', path('ca.pem'),
                 '-subj', '/CN=Ombrix Test TSA Root', '-days', '30', '-addext', 'basicConstraints=critical,CA:TRUE',
                 '-addext', 'keyUsage=critical,keyCertSign,cRLSign')
        self.run('req', '-newkey', 'rsa:2048', '-nodes', '-keyout', path('tsa.key'), '-out', path('tsa.csr'),
                 '-subj', '/CN=Ombrix Test Time Stamping')
        with open(path('tsa.ext'), 'w') as f:
            f.write('basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n'
                    'extendedKeyUsage=critical,timeStamping\n')
        self.run('x509', '-req', '-in', path('tsa.csr'), '-CA', path('ca.pem'), '-CAkey', path('ca.key'),
                 '-CAcreateserial', '-out', path('tsa.pem'), '-days', '30', '-extfile', path('tsa.ext'))
        self.run('req', '-x509', '-newkey', 'rsa:1024', '-nodes', '-keyout', path('signer.key'),
                 '-out', path('signer.pem'), '-subj', '/CN=Ombrix Test Signer', '-days', '30')
        self.no_signer = self.run('crl2pkcs7', '-nocrl', '-certfile', path('tsa.pem'), '-outform', 'DER')

    def path(self, name):
        return os.path.join(self.dir, name)

    def run(self, *args, data=None):
        return subprocess.run([self.openssl, *args], input=data, capture_output=True, check=True).stdout

    def countersign(self, signature):
        """The test TSA's SignedData over the signature value, with the TSA and CA certificates."""
        with self.lock, tempfile.NamedTemporaryFile(dir=self.dir, delete=False) as content:
            content.write(signature)
            content.close()
            response = self.run('cms', '-sign', '-nodetach', '-binary', '-nosmimecap', '-in', content.name,
                                '-signer', self.path('tsa.pem'), '-inkey', self.path('tsa.key'),
                                '-certfile', self.path('ca.pem'), '-outform', 'DER')
            os.unlink(content.name)
            with open(self.path('last_response.der'), 'wb') as f:
                f.write(response)
        return response


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        data = b''
        while b'\r\n\r\n' not in data:
            piece = self.request.recv(4096)
            if not piece:
                return None, None, None
            data += piece
        head, body = data.split(b'\r\n\r\n', 1)
        lines = head.split(b'\r\n')
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(b':')
            headers[name.strip().lower()] = value.strip()
        length = int(headers.get(b'content-length', b'0'))
        while len(body) < length:
            piece = self.request.recv(4096)
            if not piece:
                break
            body += piece
        return data[:len(head) + 4] + body, lines[0], body

    def send(self, data):
        self.request.sendall(data)

    def wait_for_close(self, limit):
        self.request.settimeout(limit)
        try:
            while self.request.recv(4096):
                pass
        except OSError:
            pass

    def handle(self):
        self.request.settimeout(30)
        authority = self.server.authority
        try:
            raw, request_line, body = self.read_request()
        except OSError:
            return
        if raw is None:
            return
        parts = request_line.split(b' ')
        path = parts[1].decode('latin-1') if len(parts) > 1 else '/'
        segments = path.split('/')
        mode = segments[1] if len(segments) > 1 else ''
        ok_head = b'HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n'

        if mode == 'shutdown':
            self.send(b'HTTP/1.0 200 OK\r\n\r\n')
            threading.Thread(target=self.server.shutdown, daemon=True).start()
        elif mode == 'strict':
            host, signature = segments[2], bytes.fromhex(segments[3])
            content = base64_lines(expected_request_der(signature))
            expected = (b'POST ' + path.encode('latin-1') + b' HTTP/1.0\r\n' +
                        b'Host: ' + host.encode('latin-1') + b'\r\n' +
                        b'User-Agent: Transport\r\n' +
                        b'Cache-Control: no-cache\r\n' +
                        b'Content-Type: application/octet-stream\r\n' +
                        b'Accept: application/octet-stream\r\n' +
                        b'Content-Length: %d\r\n\r\n' % len(content) + content)
            if raw != expected:
                with open(authority.path('mismatch.txt'), 'w') as f:
                    f.write(f'expected:\n{expected!r}\nreceived:\n{raw!r}\n')
                self.send(b'HTTP/1.0 400 Bad Request\r\n\r\n')
                return
            answer = base64_lines(authority.countersign(signature))
            self.send(b'HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n' + answer)
        elif mode in ('ok', 'noheaders', 'status500'):
            answer = base64_lines(authority.countersign(signature_of_request(body)))
            head = {'ok': ok_head, 'noheaders': b'HTTP/1.0 200 OK\r\n\r\n',
                    'status500': b'HTTP/1.0 500 Internal Server Error\r\n\r\n'}[mode]
            self.send(head + answer)
        elif mode == 'status404':
            self.send(b'HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html>Not Found</html>')
        elif mode == 'garbage':
            self.send(random.Random(5).randbytes(3000))
        elif mode == 'notpkcs7':
            self.send(ok_head + base64_lines(random.Random(6).randbytes(700)))
        elif mode == 'notsigned':
            data = der(0x30, DATA_OID + der(0xA0, der(0x04, b'not a signature')))
            self.send(ok_head + base64_lines(data))
        elif mode == 'nosigner':
            self.send(ok_head + base64_lines(authority.no_signer))
        elif mode == 'truncated':
            answer = base64_lines(authority.countersign(signature_of_request(body)))
            self.send(ok_head + answer[:len(answer) // 2])
        elif mode == 'endless':
            line = base64_lines(random.Random(7).randbytes(48 * 64))
            try:
                self.send(ok_head)
                while True:
                    self.send(line)
            except OSError:
                pass
        elif mode == 'trickle':
            try:
                self.send(ok_head)
                for _ in range(3000):
                    self.send(b'M')
                    time.sleep(0.2)
            except OSError:
                pass
        elif mode == 'silent':
            self.wait_for_close(120)
        elif mode == 'close':
            pass
        else:
            self.send(b'HTTP/1.0 404 Not Found\r\n\r\n')


@contextlib.contextmanager
def running(openssl, directory):
    """This server as a child process for the duration of a with block; yields its port."""
    os.makedirs(directory, exist_ok=True)
    port_file = os.path.join(directory, 'port')
    if os.path.exists(port_file):
        os.remove(port_file)
    server = subprocess.Popen([sys.executable, os.path.abspath(__file__), '--openssl', openssl, '--dir', directory,
                               '--port-file', port_file])
    try:
        # Key and certificate generation takes a few seconds.
        for _ in range(600):
            if os.path.exists(port_file) or server.poll() is not None:
                break
            time.sleep(0.1)
        if not os.path.exists(port_file):
            raise RuntimeError('tsa_server.py did not start')
        with open(port_file) as f:
            yield int(f.read())
    finally:
        server.terminate()
        server.wait()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = False


def main():
    arguments = argparse.ArgumentParser()
    arguments.add_argument('--openssl', required=True)
    arguments.add_argument('--dir', required=True)
    arguments.add_argument('--port-file', required=True)
    options = arguments.parse_args()

    authority = Authority(options.openssl, options.dir)
    server = Server(('127.0.0.1', 0), Handler)
    server.authority = authority

    # The test program that started the server is its parent process.
    parent = os.getppid()

    def stop_when_parent_ends():
        while os.getppid() == parent:
            time.sleep(0.5)
        server.shutdown()

    threading.Thread(target=stop_when_parent_ends, daemon=True).start()
    threading.Timer(600, server.shutdown).start()
    temporary = options.port_file + '.tmp'
    with open(temporary, 'w') as f:
        f.write(str(server.server_address[1]))
    os.replace(temporary, options.port_file)
    server.serve_forever()
    server.server_close()
    os._exit(0)


if __name__ == '__main__':
    main()
