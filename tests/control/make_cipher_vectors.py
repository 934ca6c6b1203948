"""Expected cipher results for the control, computed by implementations other than ours.

Usage:
  make_cipher_vectors.py generate OPENSSL GZIP OUT_INC DATA_DIR
  make_cipher_vectors.py check OPENSSL GZIP DATA_DIR

generate writes OUT_INC, C++ initializers of CipherVector rows (type, mode, padding, key, IV,
plaintext, ciphertext as hex), and into DATA_DIR the data of the compression cases:
  - the `openssl enc` command (Debian's OpenSSL 3) for AES-128/192/256, DES, Triple DES,
    Blowfish and CAST-128 in ECB, CBC, CFB and OFB on whole blocks without padding, for ECB
    and CBC with PKCS#7 padding, and for RC4. The control's CAST reads each 4-byte half of a
    block little-endian: its results are standard CAST-128 on data, IV and output with the
    bytes of each half reversed.
  - RC2 (RFC 2268, effective key length 8 bits) and RC5-32/16 written out below, checked
    first against the published vectors of RFC 2268, Rivest's RC5 paper and RFC 2040.
  - crypt(3) hashes from Python's crypt module.
  - longer data, crossing the control's 128000-byte chunks: input.bin (200000 bytes),
    input.bin.gz from `gzip -9 -n`, input.zlib from zlib.compress, input.gz.aes (the gzip file
    encrypted by `openssl enc -aes-128-cbc`) and input.aes256 (input.bin by
    `openssl enc -aes-256-cbc`), both with PKCS#7 padding.

check verifies the files the test program wrote into DATA_DIR with the same tools: gzip for
control.gz, zlib.decompress for control.zlib, `openssl enc -d` then zlib for control.zlib.aes.
"""
import os
import random
import subprocess
import sys
import warnings
import zlib

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    import crypt

LEGACY = ["-provider", "legacy", "-provider", "default"]
# Keys and IV of the cases on longer data (also emitted into the header).
COMPRESSION_KEY = bytes.fromhex("8d2f1a6b3c9e07d45ab1e2f30c6d8e97")
LONG_DATA_KEY = bytes.fromhex("5e0c7a91d3b24f68a1c9e03b7d52f816" "2b94e7c05fa3168d4e7b09c2a6f1d835")
DATA_IV = bytes.fromhex("f0e1d2c3b4a5968778695a4b3c2d1e0f")


def openssl_enc(openssl, cipher, key, iv, data, pad=False, decrypt=False, legacy=False):
    args = [openssl, "enc", "-" + cipher, "-K", key.hex()]
    if iv is not None:
        args += ["-iv", iv.hex()]
    if not pad:
        args.append("-nopad")
    if decrypt:
        args.append("-d")
    if legacy:
        args += LEGACY
    return subprocess.run(args, input=data, stdout=subprocess.PIPE, check=True).stdout


def reverse_halves(data):
    """Reverses the bytes of each 4-byte half of every 8-byte block."""
    out = bytearray()
    for i in range(0, len(data), 4):
        out += data[i:i + 4][::-1]
    return bytes(out)


# --- RC2, RFC 2268 -------------------------------------------------------------------------

PITABLE = bytes.fromhex(
    "d978f9c419ddb5ed28e9fd794aa0d89dc67e37832b76538e624c6488448bfba2"
    "179a59f587b34f1361456d8d09817d32bd8f40eb86b77b0bf09521225c6b4e82"
    "54d66593ce60b21c7356c014a78cf1dc1275ca1f3bbee4d1423dd430a33cb626"
    "6fbf0eda4669075727f21d9bbc944303f811c7f690ef3ee706c3d52fc8661ed7"
    "08e8eade8052eef784aa72ac354d6a2a961ad2715a1549744b9fd05e0418a4ec"
    "c2e0416e0f51cbcc2491af50a1f47039997c3a8523b8b47afc02365b25559731"
    "2d5dfa98e38a92ae05df2910676cbac9d300e6cfe19ea82c6316013f58e289a9"
    "0d38341bab33ffb0bb480c5fb9b1cd2ec5f3db47e5a59c770aa62068fe7fc1ad")


def rc2_expand(key, bits):
    buf = bytearray(128)
    buf[:len(key)] = key
    for i in range(len(key), 128):
        buf[i] = PITABLE[(buf[i - 1] + buf[i - len(key)]) & 0xFF]
    t8 = (bits + 7) // 8
    tm = 0xFF % (1 << (8 + bits - 8 * t8))
    buf[128 - t8] = PITABLE[buf[128 - t8] & tm]
    for i in range(127 - t8, -1, -1):
        buf[i] = PITABLE[buf[i + 1] ^ buf[i + t8]]
    return [buf[2 * i] | (buf[2 * i + 1] << 8) for i in range(64)]


def rc2_encrypt_block(k, block):
    r = [block[2 * i] | (block[2 * i + 1] << 8) for i in range(4)]
    shifts = (1, 2, 3, 5)
    j = 0
    for round_ in range(16):
        for i in range(4):
            r[i] = (r[i] + k[j] + (r[i - 1] & r[i - 2]) + (~r[i - 1] & 0xFFFF & r[i - 3])) & 0xFFFF
            j += 1
            r[i] = ((r[i] << shifts[i]) | (r[i] >> (16 - shifts[i]))) & 0xFFFF
        if round_ in (4, 10):
            for i in range(4):
                r[i] = (r[i] + k[r[i - 1] & 63]) & 0xFFFF
    return b"".join(bytes((w & 0xFF, w >> 8)) for w in r)


def rc2_block(key, bits):
    k = rc2_expand(key, bits)
    return lambda block: rc2_encrypt_block(k, block)


# --- RC5-32, Rivest's paper and RFC 2040 ---------------------------------------------------

def rotl32(x, n):
    n &= 31
    return ((x << n) | (x >> (32 - n))) & 0xFFFFFFFF


def rc5_block(key, rounds):
    c = max(1, (len(key) + 3) // 4)
    words = [int.from_bytes(key[4 * i:4 * i + 4].ljust(4, b"\0"), "little") for i in range(c)]
    s = [(0xB7E15163 + i * 0x9E3779B9) & 0xFFFFFFFF for i in range(2 * rounds + 2)]
    a = b = i = j = 0
    for _ in range(3 * max(len(s), c)):
        a = s[i] = rotl32((s[i] + a + b) & 0xFFFFFFFF, 3)
        b = words[j] = rotl32((words[j] + a + b) & 0xFFFFFFFF, a + b)
        i = (i + 1) % len(s)
        j = (j + 1) % c

    def encrypt(block):
        x = (int.from_bytes(block[:4], "little") + s[0]) & 0xFFFFFFFF
        y = (int.from_bytes(block[4:], "little") + s[1]) & 0xFFFFFFFF
        for r in range(1, rounds + 1):
            x = (rotl32(x ^ y, y) + s[2 * r]) & 0xFFFFFFFF
            y = (rotl32(y ^ x, x) + s[2 * r + 1]) & 0xFFFFFFFF
        return x.to_bytes(4, "little") + y.to_bytes(4, "little")
    return encrypt


def ecb(encrypt, data, bs):
    return b"".join(encrypt(data[i:i + bs]) for i in range(0, len(data), bs))


def cbc(encrypt, iv, data, bs):
    out, prev = bytearray(), iv
    for i in range(0, len(data), bs):
        prev = encrypt(bytes(p ^ q for p, q in zip(data[i:i + bs], prev)))
        out += prev
    return bytes(out)


def pkcs7(data, bs):
    n = bs - len(data) % bs
    return data + bytes([n]) * n


def self_check():
    h = bytes.fromhex
    # RFC 2268 section 5.
    for key, bits, plain, cipher in [
            ("0000000000000000", 63, "0000000000000000", "ebb773f993278eff"),
            ("ffffffffffffffff", 64, "ffffffffffffffff", "278b27e42e2f0d49"),
            ("3000000000000000", 64, "1000000000000001", "30649edf9be7d2c2"),
            ("88", 64, "0000000000000000", "61a8a244adacccf0"),
            ("88bca90e90875a", 64, "0000000000000000", "6ccf4308974c267f"),
            ("88bca90e90875a7f0f79c384627bafb2", 64, "0000000000000000", "1a807d272bbe5db1"),
            ("88bca90e90875a7f0f79c384627bafb2", 128, "0000000000000000", "2269552ab0f85ca6"),
            ("88bca90e90875a7f0f79c384627bafb216f80a6f85920584c42fceb0be255daf1e", 129,
             "0000000000000000", "5b78d3a43dfff1f1")]:
        assert rc2_block(h(key), bits)(h(plain)) == h(cipher), ("RC2", key, bits)
    # RC5-32/12/16 from Rivest's paper: each ciphertext is the next plaintext and key.
    chain = [("00" * 16, "0000000000000000", "21a5dbee154b8f6d"),
             ("915f4619be41b2516355a50110a9ce91", "21a5dbee154b8f6d", "f7c013ac5b2b8952"),
             ("783348e75aeb0f2fd7b169bb8dc16787", "f7c013ac5b2b8952", "2f42b3b70369fc92"),
             ("dc49db1375a5584f6485b413b5f12baf", "2f42b3b70369fc92", "65c178b284d197cc"),
             ("5269f149d41ba0152497574d7f153125", "65c178b284d197cc", "eb44e415da319824")]
    for key, plain, cipher in chain:
        assert rc5_block(h(key), 12)(h(plain)) == h(cipher), ("RC5", key)
    # RFC 2040 RC5-CBC, 16 rounds, 16-byte key.
    assert cbc(rc5_block(h("01020304050607081020304050607080"), 16), h("0102030405060708"),
               h("1020304050607080"), 8) == h("dad6bda9dfe8f7e8"), "RC5-CBC"


# --- The vectors -----------------------------------------------------------------------------

# (control Type, openssl name stem, key length, block size, needs the legacy provider)
OPENSSL_CIPHERS = [
    ("AES", "aes-128", 16, 16, False),
    ("AES192", "aes-192", 24, 16, False),
    ("AES256", "aes-256", 32, 16, False),
    ("DES", "des", 8, 8, True),
    ("TripleDES", "des-ede3", 24, 8, False),
    ("Blowfish", "bf", 16, 8, True),
    ("Cast", "cast5", 16, 8, True),
]


def openssl_name(stem, mode):
    if stem == "des-ede3" and mode == "ecb":
        return "des-ede3"
    return stem + "-" + mode


class Rows:
    def __init__(self):
        self.rows = []

    def add(self, name, type_, mode, padding, key, iv, plain, cipher):
        self.rows.append('    {"%s", %s, %s, %s, "%s", "%s", "%s", "%s"},' % (
            name, type_, mode, padding, key.hex(), iv.hex(), plain.hex(), cipher.hex()))


def openssl_rows(rows, openssl, rng):
    for type_, stem, key_len, bs, legacy in OPENSSL_CIPHERS:
        cast = type_ == "Cast"
        fix = reverse_halves if cast else (lambda b: b)
        for mode in ("ecb", "cbc", "cfb", "ofb"):
            for blocks in (1, rng.randrange(2, 9)):
                key = rng.randbytes(key_len)
                iv = rng.randbytes(bs)
                plain = rng.randbytes(blocks * bs)
                cipher = fix(openssl_enc(openssl, openssl_name(stem, mode), key,
                                         None if mode == "ecb" else fix(iv), fix(plain),
                                         legacy=legacy))
                rows.add("%s-%s %d blocks" % (stem, mode, blocks), type_, mode.upper(), "PadNull",
                         key, iv if mode != "ecb" else b"", plain, cipher)
        if cast:
            continue  # PKCS#7 padding bytes would be reversed with the block
        for mode in ("ecb", "cbc"):
            for length in (rng.randrange(1, 4 * bs), 2 * bs):
                key = rng.randbytes(key_len)
                iv = rng.randbytes(bs)
                plain = rng.randbytes(length)
                cipher = openssl_enc(openssl, openssl_name(stem, mode), key,
                                     None if mode == "ecb" else iv, plain, pad=True, legacy=legacy)
                rows.add("%s-%s PKCS#7 %d bytes" % (stem, mode, length), type_, mode.upper(),
                         "PadPKCS7", key, iv if mode != "ecb" else b"", plain, cipher)
    # RC4: 16-byte keys, and a 5-byte key, which the control extends with 11 zero bytes.
    for key_len, length in ((16, 1), (16, 1000), (5, 64)):
        key = rng.randbytes(key_len)
        plain = rng.randbytes(length)
        cipher = openssl_enc(openssl, "rc4", key.ljust(16, b"\0"), None, plain, legacy=True)
        rows.add("rc4 key %d, %d bytes" % (key_len, length), "RC4", "ECB", "PadNull", key, b"",
                 plain, cipher)


def key_rule_rows(rows, openssl, rng):
    """Keys of other lengths than the algorithm's: cut or extended with zero bytes."""
    plain = rng.randbytes(32)
    iv8, iv16 = rng.randbytes(8), rng.randbytes(16)
    k = rng.randbytes(32)
    cases = [
        ("DES key of 16 bytes uses its first 8", "DES", "des-cbc", k[:16], k[:8], iv8, True),
        ("TripleDES key of 16 bytes has K3 = 0", "TripleDES", "des-ede3-cbc", k[:16],
         k[:16] + bytes(8), iv8, False),
        ("TripleDES key of 8 bytes has K2 = K3 = 0", "TripleDES", "des-ede3-cbc", k[:8],
         k[:8] + bytes(16), iv8, False),
        ("AES key of 20 bytes uses its first 16", "AES", "aes-128-cbc", k[:20], k[:16], iv16, False),
        ("AES192 key of 16 bytes is zero-extended", "AES192", "aes-192-cbc", k[:16],
         k[:16] + bytes(8), iv16, False),
        ("AES256 key of 16 bytes is zero-extended", "AES256", "aes-256-cbc", k[:16],
         k[:16] + bytes(16), iv16, False),
        ("Cast key of 5 bytes is zero-extended", "Cast", "cast5-cbc", k[:5], k[:5] + bytes(11),
         iv8, True),
    ]
    for name, type_, cipher, control_key, openssl_key, iv, legacy in cases:
        fix = reverse_halves if type_ == "Cast" else (lambda b: b)
        out = fix(openssl_enc(openssl, cipher, openssl_key, fix(iv), fix(plain), legacy=legacy))
        rows.add(name, type_, "CBC", "PadNull", control_key, iv, plain, out)
    # Blowfish takes the key as given: the 16-byte key with 11 zero bytes, for comparison with
    # the 5-byte key's published result in the test.
    key5 = bytes.fromhex("f0e1d2c3b4")
    rows.add("Blowfish key of 5 bytes and 11 zeros", "Blowfish", "ECB", "PadNull",
             key5 + bytes(11), b"", bytes.fromhex("fedcba9876543210"),
             openssl_enc(openssl, "bf-ecb", key5 + bytes(11), None, bytes.fromhex("fedcba9876543210"),
                         legacy=True))


def rc2_rc5_rows(rows, rng):
    for type_, make in (("RC2", lambda key: rc2_block(key, 8)), ("RC5", lambda key: rc5_block(key, 16))):
        for key_len in (16, 16, 5):
            key = rng.randbytes(key_len)
            encrypt = make(key.ljust(16, b"\0"))
            iv = rng.randbytes(8)
            plain = rng.randbytes(8 * rng.randrange(1, 6))
            rows.add("%s ECB key %d" % (type_, key_len), type_, "ECB", "PadNull", key, b"", plain,
                     ecb(encrypt, plain, 8))
            rows.add("%s CBC key %d" % (type_, key_len), type_, "CBC", "PadNull", key, iv, plain,
                     cbc(encrypt, iv, plain, 8))
        key = rng.randbytes(16)
        plain = rng.randbytes(13)
        rows.add("%s ECB PKCS#7" % type_, type_, "ECB", "PadPKCS7", key, b"", plain,
                 ecb(make(key), pkcs7(plain, 8), 8))


def crypt3_rows(rows, rng):
    alphabet = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
    printable = [chr(c) for c in range(0x21, 0x7F)]
    passwords = ["password", "a", "Ombrix!", "longer than eight characters"]
    passwords += ["".join(rng.choice(printable) for _ in range(rng.randrange(1, 9))) for _ in range(8)]
    for password in passwords:
        salt = rng.choice(alphabet) + rng.choice(alphabet)
        hashed = crypt.crypt(password, salt)
        assert len(hashed) == 13, (password, salt, hashed)
        rows.add("crypt(3) of %d characters" % len(password), "UNIXcrypt3", "ECB", "PadNull",
                 salt.encode(), b"", password.encode(), hashed.encode())


def compression_data(openssl, gzip, data_dir, rng):
    os.makedirs(data_dir, exist_ok=True)
    words = [b"cipher", b"block", b"stream", b"vector", b"padding", b"zlib", b"gzip", b"key"]
    data = bytearray()
    while len(data) < 200000:
        if rng.random() < 0.15:
            data += rng.randbytes(rng.randrange(1, 2000))
        else:
            data += b" ".join(rng.choice(words) for _ in range(rng.randrange(1, 16))) + b"\r\n"
    data = bytes(data[:200000])
    input_path = os.path.join(data_dir, "input.bin")
    with open(input_path, "wb") as f:
        f.write(data)
    gz = subprocess.run([gzip, "-9", "-n", "-c", input_path], stdout=subprocess.PIPE, check=True).stdout
    files = {"input.bin.gz": gz, "input.zlib": zlib.compress(data, 9),
             "input.gz.aes": openssl_enc(openssl, "aes-128-cbc", COMPRESSION_KEY, DATA_IV, gz,
                                         pad=True),
             "input.aes256": openssl_enc(openssl, "aes-256-cbc", LONG_DATA_KEY, DATA_IV, data,
                                         pad=True)}
    for name, content in files.items():
        with open(os.path.join(data_dir, name), "wb") as f:
            f.write(content)


def generate(openssl, gzip, out_inc, data_dir):
    self_check()
    rng = random.Random(20261210)
    rows = Rows()
    openssl_rows(rows, openssl, rng)
    key_rule_rows(rows, openssl, rng)
    rc2_rc5_rows(rows, rng)
    crypt3_rows(rows, rng)
    compression_data(openssl, gzip, data_dir, rng)
    os.makedirs(os.path.dirname(out_inc), exist_ok=True)
    with open(out_inc, "w") as f:
        f.write("// Generated by make_cipher_vectors.py; do not edit.\n")
        f.write('constexpr char kCompressionKey[] = "%s";\n' % COMPRESSION_KEY.hex())
        f.write('constexpr char kLongDataKey[] = "%s";\n' % LONG_DATA_KEY.hex())
        f.write('constexpr char kDataIv[] = "%s";\n' % DATA_IV.hex())
        f.write("const CipherVector kCipherVectors[] = {\n")
        f.write("\n".join(rows.rows))
        f.write("\n};\n")


def check(openssl, gzip, data_dir):
    def read(name):
        with open(os.path.join(data_dir, name), "rb") as f:
            return f.read()
    data = read("input.bin")
    failures = []
    gz_path = os.path.join(data_dir, "control.gz")
    tested = subprocess.run([gzip, "-t", gz_path])
    restored = subprocess.run([gzip, "-dc", gz_path], stdout=subprocess.PIPE).stdout
    if tested.returncode != 0 or restored != data:
        failures.append("gzip does not restore the input from control.gz")
    try:
        if zlib.decompress(read("control.zlib")) != data:
            failures.append("control.zlib inflates to other bytes than the input")
    except zlib.error as e:
        failures.append("control.zlib: %s" % e)
    try:
        decrypted = openssl_enc(openssl, "aes-128-cbc", COMPRESSION_KEY, DATA_IV,
                                read("control.zlib.aes"), pad=True, decrypt=True)
        if zlib.decompress(decrypted) != data:
            failures.append("control.zlib.aes decrypts and inflates to other bytes than the input")
    except (subprocess.CalledProcessError, zlib.error) as e:
        failures.append("control.zlib.aes: %s" % e)
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    if sys.argv[1] == "generate":
        generate(*sys.argv[2:6])
    elif sys.argv[1] == "check":
        sys.exit(check(*sys.argv[2:5]))
    else:
        sys.exit("unknown command " + sys.argv[1])
