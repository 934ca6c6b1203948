#include "crypto/asymmetric.h"

#include <cstring>
#include <new>
#include <utility>

#include "base/byte_order.h"
#include "binding/binding.h"
#include "binding/openssl_holders.h"
#include "crypto/algorithm_types.h"
#include "crypto/digests.h"
#include "crypto/mpint.h"

namespace ombrix {
namespace {

namespace at = algorithm_type;

// Signatures longer than this are refused before they reach the library.
constexpr uint32_t kMaxSignatureLength = cryptRSA::kMaxModulusBits / 8;

enum class ReadResult { kValue, kEnd, kMalformed };

// Reads the next mpint of a key blob into a new number. kEnd when no bytes remain; kMalformed
// when the length field is cut short or announces more bytes than remain.
ReadResult ReadMpint(Buffer& blob, BignumPtr& value) {
    if (blob.Length() == 0) return ReadResult::kEnd;
    if (blob.Length() < 4) return ReadResult::kMalformed;
    const uint8_t* p = blob.Data();
    const uint32_t n = LoadBigEndian32(p);
    if (n > blob.Length() - 4 || n > Buffer::kMaxStringLength) return ReadResult::kMalformed;
    value.reset(Crypto().BN_new());
    if (!value) return ReadResult::kMalformed;
    GetBignum2(blob, value.get());
    return ReadResult::kValue;
}

// Reads the key type string and compares it with `expected`.
bool ReadKeyType(Buffer& blob, const char* expected) {
    uint32_t length = 0;
    uint8_t* name = blob.GetString(&length);
    if (!name) return false;
    const bool match = length == strlen(expected) && memcmp(name, expected, length) == 0;
    delete[] name;
    return match;
}

int Bits(const BignumPtr& value) { return Crypto().BN_num_bits(value.get()); }
bool IsOdd(const BignumPtr& value) { return Crypto().BN_is_bit_set(value.get(), 0) == 1; }

int8_t Base64Value(uint8_t c) {
    if (c >= 'A' && c <= 'Z') return static_cast<int8_t>(c - 'A');
    if (c >= 'a' && c <= 'z') return static_cast<int8_t>(c - 'a' + 26);
    if (c >= '0' && c <= '9') return static_cast<int8_t>(c - '0' + 52);
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Decodes the Base64 field of an OpenSSH public-key line: the characters up to the first
// white space or zero byte (a comment after the key is ignored). False for any other
// character, padding inside the text or a dangling single character.
bool DecodeBase64Field(const uint8_t* text, uint32_t length, Buffer& decoded) {
    uint32_t accumulator = 0;
    int bits = 0;
    int padding = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t c = text[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0) break;
        if (c == '=') {
            ++padding;
            continue;
        }
        const int8_t value = Base64Value(c);
        if (value < 0 || padding != 0) return false;
        accumulator = (accumulator << 6) | static_cast<uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            if (!decoded.PutChar(static_cast<uint8_t>(accumulator >> bits))) return false;
            accumulator &= (1u << bits) - 1;
        }
    }
    // 6 leftover bits mean one character too many; padding is at most two characters.
    return bits != 6 && padding <= 2;
}

// The digest of the data that a signature covers, made with the digest classes.
struct SignedHash {
    uint8_t bytes[20] = {};
    uint32_t size = 0;
    int method = 0;  // the library's identifier of the hash
};

bool HashData(const uint8_t* data, uint32_t length, int32_t type, SignedHash& hash) {
    const bool sha1 = type == at::kRSASHA1 || type == at::kDSASHA1;
    std::unique_ptr<cryptMAC> digest = CreateDigest(sha1 ? at::kSHA1 : at::kMD5);
    if (!digest) return false;
    digest->Init();
    digest->finish = 1;
    static const uint8_t kNoData = 0;
    digest->Update(data ? data : &kNoData, data ? length : 0);
    const uint32_t expected = sha1 ? 20 : 16;
    const uint32_t size = digest->GetSize();
    const uint8_t* result = digest->GetResult();
    if (!result || size != expected || digest->LibraryFailed()) return false;
    memcpy(hash.bytes, result, size);
    hash.size = size;
    hash.method = sha1 ? NID_sha1 : NID_md5;
    return true;
}

// The signature that `sign` (the library's RSA_sign or DSA_sign) writes into at most `capacity`
// bytes, or null.
template <class Sign>
std::unique_ptr<Buffer> MakeSignature(int capacity, Sign sign) {
    if (capacity <= 0 || static_cast<uint32_t>(capacity) > kMaxSignatureLength + 64) return nullptr;
    std::unique_ptr<Buffer> signature(new (std::nothrow) Buffer());
    uint8_t* space = signature ? signature->AppendSpace(static_cast<uint32_t>(capacity)) : nullptr;
    if (!space) return nullptr;
    unsigned int length = 0;
    if (sign(space, &length) != 1 || length == 0 || length > static_cast<unsigned int>(capacity)) return nullptr;
    signature->ConsumeEnd(static_cast<uint32_t>(capacity) - length);
    return signature;
}

}  // namespace

// ---- cryptASYMMETRIC ----

int32_t cryptASYMMETRIC::SetKey(const uint8_t*, uint32_t) { return 0; }

std::unique_ptr<Buffer> cryptASYMMETRIC::SignData(const uint8_t*, uint32_t, int32_t) { return nullptr; }

int32_t cryptASYMMETRIC::VerifyData(const uint8_t*, uint32_t, const uint8_t*, uint32_t, int32_t) { return 0; }

// ---- cryptRSA ----

void cryptRSA::KeyDeleter::operator()(rsa_st* key) const { RsaPtr::deleter_type()(key); }

cryptRSA::cryptRSA() : key_(Crypto().RSA_new()) {
    key_size_ = 1024;
    block_size_ = 128;
    block_reserve_ = 11;
    if (key_) SetExternalKeySchedule(key_.get());
}

cryptRSA::~cryptRSA() = default;

int32_t cryptRSA::SetKey(const uint8_t* key, uint32_t length) {
    if (!key) return 0;
    if (length > 8 && memcmp(key, "ssh-", 4) == 0) {
        // An OpenSSH public-key line: an 8-character prefix such as "ssh-rsa ", then Base64.
        Buffer decoded;
        if (!DecodeBase64Field(key + 8, length - 8, decoded) || decoded.Length() == 0) {
            key_usable_ = false;
            private_key_ = 0;
            return 0;
        }
        return SetBlobKey(decoded.Data(), decoded.Length());
    }
    return SetBlobKey(key, length);
}

int32_t cryptRSA::SetBlobKey(const uint8_t* key, uint32_t length) {
    key_usable_ = false;
    private_key_ = 0;
    const CryptoBinding& crypto = Crypto();
    if (!crypto.RSA_set0_key || !crypto.RSA_set0_factors || !crypto.RSA_set0_crt_params) return 0;

    Buffer blob;
    if (!blob.Append(key, length) || !ReadKeyType(blob, "ssh-rsa")) return 0;
    BignumPtr n, e;
    if (ReadMpint(blob, n) != ReadResult::kValue || ReadMpint(blob, e) != ReadResult::kValue) return 0;

    // d, p, q, dmp1, dmq1, iqmp when bytes remain after e; a key cut short between values is
    // kept as private but incomplete and is not used.
    const bool is_private = blob.Length() != 0;
    BignumPtr values[6];
    bool complete = is_private;
    if (is_private) {
        for (BignumPtr& value : values) {
            const ReadResult read = ReadMpint(blob, value);
            if (read == ReadResult::kMalformed) return 0;
            if (read == ReadResult::kEnd || Bits(value) == 0) complete = false;
        }
    } else if ((Bits(n) + 7) / 8 < 4) {
        std::swap(n, e);  // a public key in the RFC 4253 order: e came first
    }

    // A modulus of at least 12 bytes leaves room for one byte of data under the padding.
    const int modulus_bits = Bits(n);
    if (modulus_bits < 89 || modulus_bits > kMaxModulusBits || !IsOdd(n) || Bits(e) == 0) return 0;

    std::unique_ptr<rsa_st, KeyDeleter> rsa(crypto.RSA_new());
    if (!rsa) return 0;
    if (crypto.RSA_set0_key(rsa.get(), n.get(), e.get(), complete ? values[0].get() : nullptr) != 1) return 0;
    n.release();
    e.release();
    if (complete) {
        values[0].release();
        if (crypto.RSA_set0_factors(rsa.get(), values[1].get(), values[2].get()) != 1) return 0;
        values[1].release();
        values[2].release();
        if (crypto.RSA_set0_crt_params(rsa.get(), values[3].get(), values[4].get(), values[5].get()) != 1) return 0;
        values[3].release();
        values[4].release();
        values[5].release();
    }

    key_ = std::move(rsa);
    SetExternalKeySchedule(key_.get());
    block_size_ = (modulus_bits + 7) / 8;
    private_key_ = is_private ? 1 : 0;
    key_usable_ = !is_private || complete;
    return 1;
}

int32_t cryptRSA::EncryptBlock(const uint8_t* in, uint8_t* out) {
    SetBlockFailed(true);
    const int block = block_size_;
    if (block <= 0) return 1;
    memset(out, 0, static_cast<size_t>(block));
    if (!key_usable_ || !key_) return 1;
    const int length = SignificantLength() != 0 ? SignificantLength() : block - 11;
    if (length < 0 || length > block - 11) return 1;
    const CryptoBinding& crypto = Crypto();
    const int written = private_key_
        ? crypto.RSA_private_encrypt(length, in, out, key_.get(), RSA_PKCS1_PADDING)
        : crypto.RSA_public_encrypt(length, in, out, key_.get(), RSA_PKCS1_PADDING);
    if (written != block) {
        memset(out, 0, static_cast<size_t>(block));
        return 1;
    }
    SetBlockFailed(false);
    return 1;
}

int32_t cryptRSA::DecryptBlock(const uint8_t* in, uint8_t* out) {
    SetBlockFailed(true);
    const int block = block_size_;
    if (block <= 0 || !key_usable_ || !key_) return 1;
    const CryptoBinding& crypto = Crypto();
    const int written = private_key_
        ? crypto.RSA_private_decrypt(block, in, out, key_.get(), RSA_PKCS1_PADDING)
        : crypto.RSA_public_decrypt(block, in, out, key_.get(), RSA_PKCS1_PADDING);
    // An empty block fails too: the significant length cannot say "none", and the passes never
    // encrypt one.
    if (written <= 0) return 1;
    SetSignificantLength(written);
    SetBlockFailed(false);
    return 1;
}

std::unique_ptr<Buffer> cryptRSA::SignData(const uint8_t* data, uint32_t length, int32_t type) {
    if (!private_key_ || !key_usable_ || !key_) return nullptr;
    SignedHash hash;
    if (!HashData(data, length, type, hash)) return nullptr;
    const CryptoBinding& crypto = Crypto();
    return MakeSignature(crypto.RSA_size(key_.get()), [&](uint8_t* out, unsigned int* out_length) {
        return crypto.RSA_sign(hash.method, hash.bytes, hash.size, out, out_length, key_.get());
    });
}

int32_t cryptRSA::VerifyData(const uint8_t* data, uint32_t length, const uint8_t* signature,
                             uint32_t signature_length, int32_t type) {
    if (!key_usable_ || !key_ || !signature || signature_length == 0 || signature_length > kMaxSignatureLength)
        return 0;
    SignedHash hash;
    if (!HashData(data, length, type, hash)) return 0;
    return Crypto().RSA_verify(hash.method, hash.bytes, hash.size, signature, signature_length, key_.get()) == 1 ? 1 : 0;
}

// ---- cryptDSS ----

void cryptDSS::KeyDeleter::operator()(dsa_st* key) const { DsaPtr::deleter_type()(key); }

cryptDSS::cryptDSS() : key_(Crypto().DSA_new()) {
    key_size_ = 1024;
    if (key_) SetExternalKeySchedule(key_.get());
}

cryptDSS::~cryptDSS() = default;

int32_t cryptDSS::SetKey(const uint8_t* key, uint32_t length) {
    key_usable_ = false;
    private_key_ = 0;
    const CryptoBinding& crypto = Crypto();
    if (!key || !crypto.DSA_set0_pqg || !crypto.DSA_set0_key) return 0;

    Buffer blob;
    if (!blob.Append(key, length) || !ReadKeyType(blob, "ssh-dss")) return 0;
    BignumPtr p, q, g, y, x;
    for (BignumPtr* value : {&p, &q, &g, &y})
        if (ReadMpint(blob, *value) != ReadResult::kValue) return 0;
    const bool is_private = blob.Length() != 0;
    if (is_private && ReadMpint(blob, x) != ReadResult::kValue) return 0;

    const int prime_bits = Bits(p);
    if (prime_bits == 0 || prime_bits > kMaxPrimeBits || !IsOdd(p) || Bits(q) == 0 || Bits(q) >= prime_bits ||
        Bits(g) == 0 || Bits(y) == 0)
        return 0;
    const bool complete = is_private && Bits(x) != 0;

    std::unique_ptr<dsa_st, KeyDeleter> dsa(crypto.DSA_new());
    if (!dsa) return 0;
    if (crypto.DSA_set0_pqg(dsa.get(), p.get(), q.get(), g.get()) != 1) return 0;
    p.release();
    q.release();
    g.release();
    if (crypto.DSA_set0_key(dsa.get(), y.get(), complete ? x.get() : nullptr) != 1) return 0;
    y.release();
    if (complete) x.release();

    key_ = std::move(dsa);
    SetExternalKeySchedule(key_.get());
    private_key_ = is_private ? 1 : 0;
    key_usable_ = !is_private || complete;
    return 1;
}

std::unique_ptr<Buffer> cryptDSS::SignData(const uint8_t* data, uint32_t length, int32_t type) {
    if (!private_key_ || !key_usable_ || !key_) return nullptr;
    SignedHash hash;
    if (!HashData(data, length, type, hash)) return nullptr;
    const CryptoBinding& crypto = Crypto();
    return MakeSignature(crypto.DSA_size(key_.get()), [&](uint8_t* out, unsigned int* out_length) {
        return crypto.DSA_sign(hash.method, hash.bytes, static_cast<int>(hash.size), out, out_length, key_.get());
    });
}

int32_t cryptDSS::VerifyData(const uint8_t* data, uint32_t length, const uint8_t* signature,
                             uint32_t signature_length, int32_t type) {
    if (!key_usable_ || !key_ || !signature || signature_length == 0 || signature_length > kMaxSignatureLength)
        return 0;
    SignedHash hash;
    if (!HashData(data, length, type, hash)) return 0;
    return Crypto().DSA_verify(hash.method, hash.bytes, static_cast<int>(hash.size), signature,
                               static_cast<int>(signature_length), key_.get()) == 1
               ? 1
               : 0;
}

std::unique_ptr<cryptASYMMETRIC> CreateAsymmetric(int32_t type) {
    switch (type) {
        case at::kRSA:
        case at::kRSASHA1:
            return std::unique_ptr<cryptASYMMETRIC>(new (std::nothrow) cryptRSA());
        case at::kDSA:
        case at::kDSASHA1:
            return std::unique_ptr<cryptASYMMETRIC>(new (std::nothrow) cryptDSS());
        default:
            return nullptr;
    }
}

}  // namespace ombrix
