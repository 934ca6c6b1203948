#!/usr/bin/env python3
"""A loopback time-stamp server for the time-stamp client's test, in the legacy Authenticode
protocol and in RFC 3161 (answered by `openssl ts -reply`), with modes that misbehave on purpose.

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
  /legacyanswer     a legacy answer to whatever was asked
  /rfc3161          an RFC 3161 TimeStampReq, answered by openssl ts -reply with the test TSA
  /rfc3161strict/HOST/HEXSIG/DIGEST   the request must be byte for byte the one for the signature
                    value HEX hashed with DIGEST (the nonce taken from the request), else 400
  /rfc3161rejected, /rfc3161badnonce, /rfc3161nononce, /rfc3161badimprint, /rfc3161notst
                    a rejection, a token for another nonce, without nonce, for another imprint,
                    and a granted reply whose token is no TSTInfo
Every SignedData answered is also written to DIR/last_response.der; every RFC 3161 reply to
DIR/last_rfc3161_response.der.

Python tests start it with `running(openssl, dir)`, a context manager that yields the port.
"""
import argparse
import base64
import contextlib
import hashlib
import os
import random
import socketserver
import subprocess
import sys
import tempfile
import threading
import time

REQUEST_OID = bytes.fromhex('060a2b060104018237030201')
DIGEST_OIDS = {
    'sha1': bytes.fromhex('06052b0e03021a'),
    'sha256': bytes.fromhex('0609608648016503040201'),
    'sha384': bytes.fromhex('0609608648016503040202'),
    'sha512': bytes.fromhex('0609608648016503040203'),
}
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


def timestamp_query(digest, imprint, nonce):
    """TimeStampReq { 1, MessageImprint { { OID, NULL }, imprint }, nonce, certReq TRUE }; nonce
    the INTEGER's content bytes, or None for no nonce."""
    message_imprint = der(0x30, der(0x30, DIGEST_OIDS[digest] + b'\x05\x00') + der(0x04, imprint))
    nonce_field = der(0x02, nonce) if nonce is not None else b''
    return der(0x30, der(0x02, b'\x01') + message_imprint + nonce_field + der(0x01, b'\xff'))


def query_parts(query):
    """(digest name, imprint, nonce bytes) of a TimeStampReq."""
    fields = der_children(der_children(query)[0][1])
    algorithm, imprint = der_children(fields[1][1])
    oid = der_children(algorithm[1])[0]
    digest = next(name for name, value in DIGEST_OIDS.items() if value == bytes([oid[0], len(oid[1])]) + oid[1])
    nonce = next((content for tag, content in fields[2:] if tag == 0x02), None)
    return digest, imprint[1], nonce


def expected_post(path, host, content_type, accept, body):
    """The client's request byte for byte."""
    return (b'POST ' + path.encode('latin-1') + b' HTTP/1.0\r\nHost: ' + host.encode('latin-1') + b'\r\n' +
            b'User-Agent: Transport\r\nCache-Control: no-cache\r\nContent-Type: ' + content_type + b'\r\n' +
            b'Accept: ' + accept + b'\r\nContent-Length: %d\r\n\r\n' % len(body) + body)


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
        with open(path('serial'), 'w') as f:
            f.write('01\n')
        with open(path('tsa.cnf'), 'w') as f:
            f.write('[ tsa ]\ndefault_tsa = test_tsa\n[ test_tsa ]\n'
                    f'serial = {path("serial")}\ncrypto_device = builtin\nsigner_cert = {path("tsa.pem")}\n'
                    f'certs = {path("ca.pem")}\nsigner_key = {path("tsa.key")}\nsigner_digest = sha256\n'
                    'default_policy = 1.2.3.4.1\ndigests = sha1, sha256, sha384, sha512\naccuracy = secs:1\n'
                    'ordering = yes\ntsa_name = yes\ness_cert_id_chain = no\ness_cert_id_alg = sha256\n')

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


    def timestamp_reply(self, query):
        """openssl ts -reply for a TimeStampReq: the TimeStampResp's DER."""
        with self.lock, tempfile.NamedTemporaryFile(dir=self.dir, delete=False) as request:
            request.write(query)
            request.close()
            reply = self.run('ts', '-reply', '-config', self.path('tsa.cnf'), '-queryfile', request.name,
                             '-chain', self.path('ca.pem'), '-out', '-')
            os.unlink(request.name)
            with open(self.path('last_rfc3161_response.der'), 'wb') as f:
                f.write(reply)
        return reply


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
            expected = expected_post(path, host, b'application/octet-stream', b'application/octet-stream', content)
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
        elif mode == 'legacyanswer':
            self.send(ok_head + base64_lines(authority.countersign(b'a signature value')))
        elif mode.startswith('rfc3161'):
            self.send_rfc3161(mode, segments, path, raw, body)
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


    def send_rfc3161(self, mode, segments, path, raw, body):
        authority = self.server.authority
        head = b'HTTP/1.1 200 OK\r\nContent-Type: application/timestamp-reply\r\n\r\n'
        digest, imprint, nonce = query_parts(body)
        if mode == 'rfc3161strict':
            host, signature, expected_digest = segments[2], bytes.fromhex(segments[3]), segments[4]
            query = timestamp_query(expected_digest, hashlib.new(expected_digest, signature).digest(), nonce)
            expected = expected_post(path, host, b'application/timestamp-query', b'application/timestamp-reply', query)
            if raw != expected or nonce is None or len(nonce) != 8 or nonce[0] == 0 or nonce[0] & 0x80:
                with open(authority.path('mismatch.txt'), 'w') as f:
                    f.write(f'expected:\n{expected!r}\nreceived:\n{raw!r}\n')
                self.send(b'HTTP/1.0 400 Bad Request\r\n\r\n')
                return
        elif mode == 'rfc3161rejected':
            self.send(head + der(0x30, der(0x30, der(0x02, b'\x02') + der(0x30, der(0x0C, b'rejected')))))
            return
        elif mode == 'rfc3161notst':
            token = authority.countersign(imprint)
            self.send(head + der(0x30, der(0x30, der(0x02, b'\x00')) + token))
            return
        elif mode == 'rfc3161badnonce':
            body = timestamp_query(digest, imprint, nonce[:-1] + bytes([nonce[-1] ^ 1]))
        elif mode == 'rfc3161nononce':
            body = timestamp_query(digest, imprint, None)
        elif mode == 'rfc3161badimprint':
            body = timestamp_query(digest, bytes([imprint[0] ^ 1]) + imprint[1:], nonce)
        self.send(head + authority.timestamp_reply(body))


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
