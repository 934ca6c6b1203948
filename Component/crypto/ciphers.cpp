#include "crypto/ciphers.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/byte_order.h"
#include "base/error_codes.h"
#include "binding/binding.h"
#include "binding/fips.h"

namespace ombrix {
namespace {

// Key lengths handed to the library as int; every algorithm here uses far fewer bytes.
int LibraryLength(uint32_t length) { return static_cast<int>(std::min<uint32_t>(length, 1u << 20)); }


// Applies a library block function that works in place on two 32-bit words.
template <class Word, class Function, class Key>
void TwoWordBlock(const uint8_t* in, uint8_t* out, Function function, Key* key) {
    Word words[2] = {LoadLittleEndian32(in), LoadLittleEndian32(in + 4)};
    function(words, key);
    StoreLittleEndian32(out, static_cast<uint32_t>(words[0]));
    StoreLittleEndian32(out + 4, static_cast<uint32_t>(words[1]));
}

// Copies `words` 32-bit words from `in` to `out` (which may be the same) with each word's bytes
// reversed.
void ReverseWordBytes(const uint8_t* in, uint8_t* out, size_t words) {
    for (size_t k = 0; k < words; ++k) StoreBigEndian32(out + 4 * k, LoadLittleEndian32(in + 4 * k));
}

// ECB and CBC runs of a cipher whose library block function works in place on two
// little-endian 32-bit words, in one loop instead of the framework's per-block work.
template <class Word, class Function, class Key>
bool TwoWordRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv, Function function, Key* key,
                bool encrypt) {
    Word chaining[2] = {LoadLittleEndian32(iv), LoadLittleEndian32(iv + 4)};
    for (size_t k = 0; k < blocks; ++k, in += 8, out += 8) {
        Word words[2] = {LoadLittleEndian32(in), LoadLittleEndian32(in + 4)};
        const Word cipher_text[2] = {words[0], words[1]};
        if (chain && encrypt) {
            words[0] ^= chaining[0];
            words[1] ^= chaining[1];
        }
        function(words, key);
        if (chain && !encrypt) {
            words[0] ^= chaining[0];
            words[1] ^= chaining[1];
        }
        StoreLittleEndian32(out, static_cast<uint32_t>(words[0]));
        StoreLittleEndian32(out + 4, static_cast<uint32_t>(words[1]));
        // The next block chains on this block's cipher text: the output encrypting, the input
        // decrypting.
        chaining[0] = encrypt ? words[0] : cipher_text[0];
        chaining[1] = encrypt ? words[1] : cipher_text[1];
    }
    if (chain) {
        StoreLittleEndian32(iv, static_cast<uint32_t>(chaining[0]));
        StoreLittleEndian32(iv + 4, static_cast<uint32_t>(chaining[1]));
    }
    return true;
}

// The library declares its input blocks without const, but does not write them.
const_DES_cblock* DesIn(const uint8_t* bytes) { return reinterpret_cast<const_DES_cblock*>(const_cast<uint8_t*>(bytes)); }
DES_cblock* DesOut(uint8_t* bytes) { return reinterpret_cast<DES_cblock*>(bytes); }

// ECB runs done block by block inside the cipher, without the framework's per-block work.
template <class Cipher>
bool EcbRun(Cipher& cipher, const uint8_t* in, uint8_t* out, size_t blocks, bool encrypt) {
    const size_t block = static_cast<size_t>(cipher.BlockSize());
    for (size_t k = 0; k < blocks; ++k) {
        if (encrypt) {
            cipher.EncryptBlock(in + k * block, out + k * block);
        } else {
            cipher.DecryptBlock(in + k * block, out + k * block);
        }
    }
    return true;
}

using Algorithm = EvpBlockCipher::Algorithm;

bool EvpEntriesBound(const CryptoBinding& crypto) {
    return crypto.EVP_CIPHER_CTX_new && crypto.EVP_CIPHER_CTX_free && crypto.EVP_CipherInit_ex && crypto.EVP_CipherUpdate &&
           crypto.EVP_CIPHER_CTX_set_padding;
}

// The library's EVP cipher for an algorithm, key size and chaining; null when it lacks the entry.
const EVP_CIPHER* EvpCipherOf(const CryptoBinding& crypto, Algorithm algorithm, uint32_t key_size, bool chain) {
    decltype(crypto.EVP_aes_128_ecb) getter = nullptr;
    switch (algorithm) {
        case Algorithm::kDes: getter = chain ? crypto.EVP_des_cbc : crypto.EVP_des_ecb; break;
        case Algorithm::kTripleDes: getter = chain ? crypto.EVP_des_ede3_cbc : crypto.EVP_des_ede3_ecb; break;
        case Algorithm::kAes:
            switch (key_size) {
                case 16: getter = chain ? crypto.EVP_aes_128_cbc : crypto.EVP_aes_128_ecb; break;
                case 24: getter = chain ? crypto.EVP_aes_192_cbc : crypto.EVP_aes_192_ecb; break;
                case 32: getter = chain ? crypto.EVP_aes_256_cbc : crypto.EVP_aes_256_ecb; break;
                default: break;
            }
            break;
    }
    return getter ? getter() : nullptr;
}

// Frees a cipher context through the library that made it.
struct ContextFree {
    const CryptoBinding* crypto;
    void operator()(EVP_CIPHER_CTX* context) const {
        if (context) crypto->EVP_CIPHER_CTX_free(context);
    }
};
using ContextPtr = std::unique_ptr<EVP_CIPHER_CTX, ContextFree>;

// A context for `cipher` keyed in one direction, without padding. The cipher is set before the
// key so that the two refusals stay apart: 33018 when the library cannot run the cipher (in FIPS
// mode: the provider lacks it), 30005 when it rejects the key or cannot make the context.
ContextPtr KeyedContext(const CryptoBinding& crypto, const EVP_CIPHER* cipher, const uint8_t* key, const uint8_t* iv,
                        bool encrypt, int32_t* refusal) {
    ContextPtr context(crypto.EVP_CIPHER_CTX_new(), ContextFree{&crypto});
    *refusal = kErrNoSecretKey;
    if (!context) return context;
    if (!cipher || crypto.EVP_CipherInit_ex(context.get(), cipher, nullptr, nullptr, nullptr, encrypt ? 1 : 0) != 1) {
        *refusal = kErrFipsUnsupported;
        context.reset();
    } else if (crypto.EVP_CipherInit_ex(context.get(), nullptr, nullptr, key, iv, -1) != 1 ||
               crypto.EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1) {
        context.reset();
    } else {
        *refusal = 0;
    }
    return context;
}

}  // namespace

// ---- EVP (FIPS mode) ---------------------------------------------------------------------------

bool EvpBlockCipher::Required() { return FipsMode() && EvpEntriesBound(Crypto()); }

int32_t EvpBlockCipher::SetKey(Algorithm algorithm, const uint8_t* key, uint32_t key_size, uint32_t block_size) {
    Reset();
    if (block_size == 0 || block_size > 16) return kErrNoSecretKey;
    crypto_ = HoldCrypto();
    const CryptoBinding& crypto = *crypto_;
    algorithm_ = algorithm;
    block_size_ = block_size;
    if (!key_.Allocate(key_size)) return kErrOutOfMemory;
    memcpy(key_.Data(), key, key_size);
    const EVP_CIPHER* cipher = EvpCipherOf(crypto, algorithm, key_size, false);
    int32_t refusal = 0;
    ContextPtr encrypt = KeyedContext(crypto, cipher, key, nullptr, true, &refusal);
    ContextPtr decrypt = encrypt ? KeyedContext(crypto, cipher, key, nullptr, false, &refusal) : nullptr;
    if (refusal) {
        Reset();
        return refusal;
    }
    encrypt_ = encrypt.release();
    decrypt_ = decrypt.release();
    return 0;
}

bool EvpBlockCipher::Blocks(const uint8_t* in, uint8_t* out, size_t blocks, bool encrypt) {
    return Update(encrypt ? encrypt_ : decrypt_, in, out, blocks);
}

bool EvpBlockCipher::Update(evp_cipher_ctx_st* context, const uint8_t* in, uint8_t* out, size_t blocks) {
    if (!context || blocks * block_size_ > INT_MAX) return false;
    const int length = static_cast<int>(blocks * block_size_);
    int written = 0;
    return crypto_->EVP_CipherUpdate(context, out, &written, in, length) == 1 && written == length;
}

// CBC runs go through a context per direction, keyed at the first run and kept with the key;
// each run sets its chaining value, which single blocks may have moved on since the last run.
bool EvpBlockCipher::Run(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv, bool encrypt) {
    if (!chain) return Blocks(in, out, blocks, encrypt);
    if (!Keyed() || blocks == 0) return false;
    evp_cipher_ctx_st*& context = encrypt ? cbc_encrypt_ : cbc_decrypt_;
    if (!context) {
        int32_t refusal = 0;
        const EVP_CIPHER* cipher = EvpCipherOf(*crypto_, algorithm_, static_cast<uint32_t>(key_.Size()), true);
        context = KeyedContext(*crypto_, cipher, key_.Data(), nullptr, encrypt, &refusal).release();
        if (!context) return false;
    }
    if (crypto_->EVP_CipherInit_ex(context, nullptr, nullptr, nullptr, iv, -1) != 1) return false;
    const size_t last = (blocks - 1) * block_size_;
    uint8_t next_iv[16];
    // Decrypting, the chaining value is the last input block; saved before anything is written.
    if (!encrypt) memcpy(next_iv, in + last, block_size_);
    if (!Update(context, in, out, blocks)) return false;
    memcpy(iv, encrypt ? out + last : next_iv, block_size_);
    return true;
}

void EvpBlockCipher::Reset() {
    if (crypto_) {
        for (evp_cipher_ctx_st* context : {encrypt_, decrypt_, cbc_encrypt_, cbc_decrypt_})
            if (context) crypto_->EVP_CIPHER_CTX_free(context);
    }
    encrypt_ = decrypt_ = cbc_encrypt_ = cbc_decrypt_ = nullptr;
    key_.Reset();
    crypto_.reset();
}

// ---- DES ---------------------------------------------------------------------------------------

cryptDES::cryptDES() {
    key_size_ = 8;
    block_size_ = 8;
    AllocateKeySchedule(sizeof(DES_key_schedule));
}

int32_t cryptDES::ScheduleKey(const uint8_t* key, uint32_t length) {
    fips_.Reset();
    if (EvpBlockCipher::Required()) {
        SetKeyRefusal(fips_.SetKey(Algorithm::kDes, key, 8, 8));
        return 1;
    }
    DES_cblock key_block;
    memcpy(key_block, key, sizeof key_block);
    Crypto().DES_set_key_unchecked(&key_block, reinterpret_cast<DES_key_schedule*>(KeySchedule()));
    SecureZero(key_block, sizeof key_block);
    return 1;
}

int32_t cryptDES::EncryptBlock(const uint8_t* in, uint8_t* out) {
    if (fips_.Keyed()) return BlockResult(fips_.Blocks(in, out, 1, true));
    Crypto().DES_ecb_encrypt(DesIn(in), DesOut(out), reinterpret_cast<DES_key_schedule*>(KeySchedule()), DES_ENCRYPT);
    return 1;
}

int32_t cryptDES::DecryptBlock(const uint8_t* in, uint8_t* out) {
    if (fips_.Keyed()) return BlockResult(fips_.Blocks(in, out, 1, false));
    Crypto().DES_ecb_encrypt(DesIn(in), DesOut(out), reinterpret_cast<DES_key_schedule*>(KeySchedule()), DES_DECRYPT);
    return 1;
}

bool cryptDES::EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) {
    if (fips_.Keyed()) return fips_.Run(in, out, blocks, chain, iv, true);
    if (!chain) return EcbRun(*this, in, out, blocks, true);
    Crypto().DES_ncbc_encrypt(in, out, static_cast<long>(blocks * 8), reinterpret_cast<DES_key_schedule*>(KeySchedule()),
                              DesOut(iv), DES_ENCRYPT);
    return true;
}

bool cryptDES::DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) {
    if (fips_.Keyed()) return fips_.Run(in, out, blocks, chain, iv, false);
    if (!chain) return EcbRun(*this, in, out, blocks, false);
    Crypto().DES_ncbc_encrypt(in, out, static_cast<long>(blocks * 8), reinterpret_cast<DES_key_schedule*>(KeySchedule()),
                              DesOut(iv), DES_DECRYPT);
    return true;
}

// ---- Triple DES --------------------------------------------------------------------------------

cryptTripleDES::cryptTripleDES() {
    key_size_ = 24;
    block_size_ = 8;
    if (schedule2_.Allocate(sizeof(DES_key_schedule)) && schedule3_.Allocate(sizeof(DES_key_schedule)))
        AllocateKeySchedule(sizeof(DES_key_schedule));
}

int32_t cryptTripleDES::ScheduleKey(const uint8_t* key, uint32_t length) {
    fips_.Reset();
    if (EvpBlockCipher::Required()) {
        SetKeyRefusal(fips_.SetKey(Algorithm::kTripleDes, key, 24, 8));
        return 1;
    }
    DES_key_schedule* schedules[3] = {reinterpret_cast<DES_key_schedule*>(KeySchedule()),
                                      schedule2_.As<DES_key_schedule>(), schedule3_.As<DES_key_schedule>()};
    for (int k = 0; k < 3; ++k) {
        DES_cblock key_block;
        memcpy(key_block, key + 8 * k, sizeof key_block);
        Crypto().DES_set_key_unchecked(&key_block, schedules[k]);
        SecureZero(key_block, sizeof key_block);
    }
    return 1;
}

int32_t cryptTripleDES::EncryptBlock(const uint8_t* in, uint8_t* out) {
    if (fips_.Keyed()) return BlockResult(fips_.Blocks(in, out, 1, true));
    uint8_t middle[16];
    const CryptoBinding& crypto = Crypto();
    crypto.DES_ecb_encrypt(DesIn(in), DesOut(middle), reinterpret_cast<DES_key_schedule*>(KeySchedule()), DES_ENCRYPT);
    crypto.DES_ecb_encrypt(DesIn(middle), DesOut(middle + 8), schedule2_.As<DES_key_schedule>(), DES_DECRYPT);
    crypto.DES_ecb_encrypt(DesIn(middle + 8), DesOut(out), schedule3_.As<DES_key_schedule>(), DES_ENCRYPT);
    SecureZero(middle, sizeof middle);
    return 1;
}

int32_t cryptTripleDES::DecryptBlock(const uint8_t* in, uint8_t* out) {
    if (fips_.Keyed()) return BlockResult(fips_.Blocks(in, out, 1, false));
    uint8_t middle[16];
    const CryptoBinding& crypto = Crypto();
    crypto.DES_ecb_encrypt(DesIn(in), DesOut(middle), schedule3_.As<DES_key_schedule>(), DES_DECRYPT);
    crypto.DES_ecb_encrypt(DesIn(middle), DesOut(middle + 8), schedule2_.As<DES_key_schedule>(), DES_ENCRYPT);
    crypto.DES_ecb_encrypt(DesIn(middle + 8), DesOut(out), reinterpret_cast<DES_key_schedule*>(KeySchedule()), DES_DECRYPT);
    SecureZero(middle, sizeof middle);
    return 1;
}

bool cryptTripleDES::EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) {
    if (fips_.Keyed()) return fips_.Run(in, out, blocks, chain, iv, true);
    if (!chain) return EcbRun(*this, in, out, blocks, true);
    Crypto().DES_ede3_cbc_encrypt(in, out, static_cast<long>(blocks * 8), reinterpret_cast<DES_key_schedule*>(KeySchedule()),
                                  schedule2_.As<DES_key_schedule>(), schedule3_.As<DES_key_schedule>(), DesOut(iv), DES_ENCRYPT);
    return true;
}

bool cryptTripleDES::DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) {
    if (fips_.Keyed()) return fips_.Run(in, out, blocks, chain, iv, false);
    if (!chain) return EcbRun(*this, in, out, blocks, false);
    Crypto().DES_ede3_cbc_encrypt(in, out, static_cast<long>(blocks * 8), reinterpret_cast<DES_key_schedule*>(KeySchedule()),
                                  schedule2_.As<DES_key_schedule>(), schedule3_.As<DES_key_schedule>(), DesOut(iv), DES_DECRYPT);
    return true;
}

// ---- AES ---------------------------------------------------------------------------------------

cryptAES::cryptAES() {
    key_size_ = 16;
    block_size_ = 16;
    if (decrypt_schedule_.Allocate(sizeof(AES_KEY))) AllocateKeySchedule(sizeof(AES_KEY));
}

cryptAES192::cryptAES192() {
    key_size_ = 24;
    block_size_ = 16;
}

cryptAES256::cryptAES256() {
    key_size_ = 32;
    block_size_ = 16;
}

int32_t cryptAES::ScheduleKey(const uint8_t* key, uint32_t length) {
    const uint32_t size = static_cast<uint32_t>(key_size_);
    fips_.Reset();
    if (EvpBlockCipher::Required()) {
        SetKeyRefusal(fips_.SetKey(Algorithm::kAes, key, size, 16));
        return 1;
    }
    const int bits = key_size_ * 8;
    Crypto().AES_set_encrypt_key(key, bits, reinterpret_cast<AES_KEY*>(KeySchedule()));
    Crypto().AES_set_decrypt_key(key, bits, decrypt_schedule_.As<AES_KEY>());
    runs_.Reset();
    if (key_.Allocate(static_cast<size_t>(key_size_))) memcpy(key_.Data(), key, static_cast<size_t>(key_size_));
    return 1;
}

int32_t cryptAES::EncryptBlock(const uint8_t* in, uint8_t* out) {
    if (fips_.Keyed()) return BlockResult(fips_.Blocks(in, out, 1, true));
    Crypto().AES_ecb_encrypt(in, out, reinterpret_cast<AES_KEY*>(KeySchedule()), AES_ENCRYPT);
    return 1;
}

int32_t cryptAES::DecryptBlock(const uint8_t* in, uint8_t* out) {
    if (fips_.Keyed()) return BlockResult(fips_.Blocks(in, out, 1, false));
    Crypto().AES_ecb_encrypt(in, out, decrypt_schedule_.As<AES_KEY>(), AES_DECRYPT);
    return 1;
}

bool cryptAES::EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) {
    return Run(in, out, blocks, chain, iv, true);
}

bool cryptAES::DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) {
    return Run(in, out, blocks, chain, iv, false);
}

bool cryptAES::Run(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv, bool encrypt) {
    if (fips_.Keyed()) return fips_.Run(in, out, blocks, chain, iv, encrypt);
    if (evp_allowed_ && EvpRun(in, out, blocks, chain, iv, encrypt)) return true;
    if (!chain) return EcbRun(*this, in, out, blocks, encrypt);
    AES_KEY* schedule = encrypt ? reinterpret_cast<AES_KEY*>(KeySchedule()) : decrypt_schedule_.As<AES_KEY>();
    Crypto().AES_cbc_encrypt(in, out, blocks * 16, schedule, iv, encrypt ? AES_ENCRYPT : AES_DECRYPT);
    return true;
}

// Runs through the library's EVP, whose AES is its fastest (it interleaves blocks where the
// mode allows). The contexts are keyed at the first run and live as long as the key; the
// library they come from stays loaded while they do. False when the EVP entries are not bound
// or a call fails.
bool cryptAES::EvpRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv, bool encrypt) {
    if (!runs_.Keyed()) {
        if (key_.Empty() || !EvpEntriesBound(Crypto()) ||
            runs_.SetKey(Algorithm::kAes, key_.Data(), static_cast<uint32_t>(key_size_), 16) != 0)
            return false;
    }
    return runs_.Run(in, out, blocks, chain, iv, encrypt);
}

// ---- Blowfish ----------------------------------------------------------------------------------

cryptBlowfish::cryptBlowfish() {
    key_size_ = 16;
    block_size_ = 8;
    AllocateKeySchedule(sizeof(BF_KEY));
}

int32_t cryptBlowfish::SetKey(const uint8_t* key, uint32_t length) {
    ScheduleKey(key, length);
    return 1;
}

int32_t cryptBlowfish::ScheduleKey(const uint8_t* key, uint32_t length) {
    Crypto().BF_set_key(reinterpret_cast<BF_KEY*>(KeySchedule()), LibraryLength(length), key);
    return 1;
}

int32_t cryptBlowfish::EncryptBlock(const uint8_t* in, uint8_t* out) {
    Crypto().BF_ecb_encrypt(in, out, reinterpret_cast<BF_KEY*>(KeySchedule()), BF_ENCRYPT);
    return 1;
}

int32_t cryptBlowfish::DecryptBlock(const uint8_t* in, uint8_t* out) {
    Crypto().BF_ecb_encrypt(in, out, reinterpret_cast<BF_KEY*>(KeySchedule()), BF_DECRYPT);
    return 1;
}

bool cryptBlowfish::EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) {
    if (!chain) return EcbRun(*this, in, out, blocks, true);
    Crypto().BF_cbc_encrypt(in, out, static_cast<long>(blocks * 8), reinterpret_cast<BF_KEY*>(KeySchedule()), iv, BF_ENCRYPT);
    return true;
}

bool cryptBlowfish::DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) {
    if (!chain) return EcbRun(*this, in, out, blocks, false);
    Crypto().BF_cbc_encrypt(in, out, static_cast<long>(blocks * 8), reinterpret_cast<BF_KEY*>(KeySchedule()), iv, BF_DECRYPT);
    return true;
}

// ---- CAST --------------------------------------------------------------------------------------

cryptCast::cryptCast() {
    key_size_ = 16;
    block_size_ = 8;
    AllocateKeySchedule(sizeof(CAST_KEY));
}

int32_t cryptCast::ScheduleKey(const uint8_t* key, uint32_t length) {
    Crypto().CAST_set_key(reinterpret_cast<CAST_KEY*>(KeySchedule()), LibraryLength(length), key);
    return 1;
}

int32_t cryptCast::EncryptBlock(const uint8_t* in, uint8_t* out) {
    TwoWordBlock<CAST_LONG>(in, out, Crypto().CAST_encrypt, reinterpret_cast<const CAST_KEY*>(KeySchedule()));
    return 1;
}

int32_t cryptCast::DecryptBlock(const uint8_t* in, uint8_t* out) {
    TwoWordBlock<CAST_LONG>(in, out, Crypto().CAST_decrypt, reinterpret_cast<const CAST_KEY*>(KeySchedule()));
    return 1;
}

bool cryptCast::EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) {
    return Run(in, out, blocks, chain, iv, true);
}

bool cryptCast::DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) {
    return Run(in, out, blocks, chain, iv, false);
}

// The library's own CBC loop is its fastest CAST, but it takes big-endian words where this cipher
// takes little-endian ones. With the bytes of every word reversed on the way in and out, its loop
// gives this cipher's blocks: CBC's exclusive-or works byte by byte, so it commutes with the
// reversal.
bool cryptCast::Run(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv, bool encrypt) {
    const auto* key = reinterpret_cast<const CAST_KEY*>(KeySchedule());
    if (!chain || blocks * 8 > LONG_MAX)
        return TwoWordRun<CAST_LONG>(in, out, blocks, chain, iv, encrypt ? Crypto().CAST_encrypt : Crypto().CAST_decrypt, key, encrypt);
    ReverseWordBytes(in, out, blocks * 2);
    uint8_t chaining[8];
    ReverseWordBytes(iv, chaining, 2);
    Crypto().CAST_cbc_encrypt(out, out, static_cast<long>(blocks * 8), key, chaining, encrypt ? CAST_ENCRYPT : CAST_DECRYPT);
    ReverseWordBytes(out, out, blocks * 2);
    ReverseWordBytes(chaining, iv, 2);
    return true;
}

// ---- RC2 ---------------------------------------------------------------------------------------

cryptRC2::cryptRC2() {
    key_size_ = 16;
    block_size_ = 8;
    AllocateKeySchedule(sizeof(RC2_KEY));
}

int32_t cryptRC2::ScheduleKey(const uint8_t* key, uint32_t length) {
    Crypto().RC2_set_key(reinterpret_cast<RC2_KEY*>(KeySchedule()), LibraryLength(length), key, 8);
    return 1;
}

int32_t cryptRC2::EncryptBlock(const uint8_t* in, uint8_t* out) {
    TwoWordBlock<unsigned long>(in, out, Crypto().RC2_encrypt, reinterpret_cast<RC2_KEY*>(KeySchedule()));
    return 1;
}

int32_t cryptRC2::DecryptBlock(const uint8_t* in, uint8_t* out) {
    TwoWordBlock<unsigned long>(in, out, Crypto().RC2_decrypt, reinterpret_cast<RC2_KEY*>(KeySchedule()));
    return 1;
}

bool cryptRC2::EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) {
    return TwoWordRun<unsigned long>(in, out, blocks, chain, iv, Crypto().RC2_encrypt, reinterpret_cast<RC2_KEY*>(KeySchedule()), true);
}

bool cryptRC2::DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) {
    return TwoWordRun<unsigned long>(in, out, blocks, chain, iv, Crypto().RC2_decrypt, reinterpret_cast<RC2_KEY*>(KeySchedule()), false);
}

// ---- RC4 ---------------------------------------------------------------------------------------

cryptRC4::cryptRC4() {
    key_size_ = 16;
    block_size_ = 1;
    AllocateKeySchedule(sizeof(RC4_KEY));
}

int32_t cryptRC4::ScheduleKey(const uint8_t* key, uint32_t length) {
    Crypto().RC4_set_key(reinterpret_cast<RC4_KEY*>(KeySchedule()), LibraryLength(length), key);
    return 1;
}

int32_t cryptRC4::EncryptBlock(const uint8_t* in, uint8_t* out) {
    Crypto().RC4(reinterpret_cast<RC4_KEY*>(KeySchedule()), 1, in, out);
    return 1;
}

int32_t cryptRC4::DecryptBlock(const uint8_t* in, uint8_t* out) { return EncryptBlock(in, out); }

// In ECB a run of one-byte blocks is simply the key stream over the run.
bool cryptRC4::EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) {
    if (chain) return false;
    Crypto().RC4(reinterpret_cast<RC4_KEY*>(KeySchedule()), blocks, in, out);
    return true;
}

bool cryptRC4::DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) {
    return EncryptRun(in, out, blocks, chain, iv);
}

// ---- RC5 ---------------------------------------------------------------------------------------

cryptRC5::cryptRC5() {
    key_size_ = 16;
    block_size_ = 8;
    AllocateKeySchedule(sizeof(RC5_32_KEY));
}

// RC5-32 is defined for keys of at most 255 bytes; longer keys are cut to that.
int32_t cryptRC5::ScheduleKey(const uint8_t* key, uint32_t length) {
    Crypto().RC5_32_set_key(reinterpret_cast<RC5_32_KEY*>(KeySchedule()), static_cast<int>(std::min<uint32_t>(length, 255)), key,
                            RC5_16_ROUNDS);
    return 1;
}

int32_t cryptRC5::EncryptBlock(const uint8_t* in, uint8_t* out) {
    TwoWordBlock<unsigned long>(in, out, Crypto().RC5_32_encrypt, reinterpret_cast<RC5_32_KEY*>(KeySchedule()));
    return 1;
}

int32_t cryptRC5::DecryptBlock(const uint8_t* in, uint8_t* out) {
    TwoWordBlock<unsigned long>(in, out, Crypto().RC5_32_decrypt, reinterpret_cast<RC5_32_KEY*>(KeySchedule()));
    return 1;
}

}  // namespace ombrix
