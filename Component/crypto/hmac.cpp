#include "crypto/hmac.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <openssl/params.h>

#include "binding/binding.h"
#include "binding/fips.h"
#include "crypto/algorithm_types.h"
#include "base/buffer.h"

namespace ombrix {

// ---- cryptHMAC (library) ------------------------------------------------------------------------

cryptHMAC::cryptHMAC() : crypto_(HoldCrypto()) {}

cryptHMAC::~cryptHMAC() { FreeContexts(); }

void cryptHMAC::FreeContexts() {
    if (context_) crypto_->HMAC_CTX_cleanup(context_);
    if (mac_) crypto_->EVP_MAC_CTX_free(mac_);
    context_ = nullptr;
    mac_ = nullptr;
}

namespace {

bool MacEntriesBound(const CryptoBinding& crypto) {
    return crypto.EVP_MAC_fetch && crypto.EVP_MAC_free && crypto.EVP_MAC_CTX_new && crypto.EVP_MAC_CTX_free &&
           crypto.EVP_MAC_init && crypto.EVP_MAC_update && crypto.EVP_MAC_final;
}

// A context of the library's HMAC over the named digest, keyed; null when the library refuses.
EVP_MAC_CTX* ProviderHmac(const CryptoBinding& crypto, const char* digest_name, const uint8_t* key, uint32_t length) {
    EVP_MAC* mac = crypto.EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!mac) return nullptr;
    EVP_MAC_CTX* context = crypto.EVP_MAC_CTX_new(mac);
    crypto.EVP_MAC_free(mac);  // the context keeps its own reference
    if (!context) return nullptr;
    char name[16] = {};
    strncpy(name, digest_name, sizeof name - 1);
    const OSSL_PARAM params[] = {OSSL_PARAM_utf8_string("digest", name, 0), OSSL_PARAM_END};
    if (crypto.EVP_MAC_init(context, key, length, params) != 1) {
        crypto.EVP_MAC_CTX_free(context);
        return nullptr;
    }
    return context;
}

}  // namespace

void cryptHMAC::Init(const uint8_t* key, uint32_t length) {
    const CryptoBinding& crypto = *crypto_;
    FreeContexts();
    memset(output, 0, sizeof output);
    failed_ = false;
    // The library takes a null key as "keep the current key", and there is none yet.
    static const uint8_t kNoKey[1] = {0};
    if (!key) length = 0;
    if (FipsMode() && digest_name_ && MacEntriesBound(crypto)) {
        mac_ = ProviderHmac(crypto, digest_name_, key ? key : kNoKey, length);
        failed_ = !mac_;
        return;
    }
    context_ = crypto.HMAC_CTX_init();
    if (!context_) return;
    failed_ = crypto.HMAC_Init_ex(context_, key ? key : kNoKey, static_cast<int>(length), method_, nullptr) != 1;
}

void cryptHMAC::Update(const uint8_t* data, uint32_t length) {
    const CryptoBinding& crypto = *crypto_;
    if (mac_) {
        if (length != 0 && crypto.EVP_MAC_update(mac_, data, length) != 1) failed_ = true;
        size_t written = 0;
        if (finish && crypto.EVP_MAC_final(mac_, output, &written, sizeof output) != 1) failed_ = true;
        return;
    }
    if (!context_) return;
    if (length != 0 && crypto.HMAC_Update(context_, data, length) != 1) failed_ = true;
    if (finish && crypto.HMAC_Final(context_, output, nullptr) != 1) failed_ = true;
}

const uint8_t* cryptHMAC::GetResult() {
    static const uint8_t kEmpty[1] = {0};
    return finish ? output : kEmpty;
}

uint32_t cryptHMAC::GetSize() { return (context_ || mac_) && method_ ? method_size_ : 0; }

cryptHMAC_MD5::cryptHMAC_MD5() {
    method_ = crypto_->EVP_md5();
    method_size_ = 16;
    digest_name_ = "MD5";
}

cryptHMAC_SHA1::cryptHMAC_SHA1() {
    method_ = crypto_->EVP_sha1();
    method_size_ = 20;
    digest_name_ = "SHA1";
}

// ---- cryptHMAC_SHA256 family (own RFC 2104) -----------------------------------------------------

cryptHMAC_SHA256::cryptHMAC_SHA256() : cryptHMAC_SHA256(32, 64) {}

cryptHMAC_SHA256::cryptHMAC_SHA256(uint32_t digest_size, uint32_t block_size)
    : digest_size_(digest_size), block_size_(block_size) {
    memset(inner_pad_, 0, sizeof inner_pad_);
    memset(outer_pad_, 0, sizeof outer_pad_);
    memset(key_block_, 0, sizeof key_block_);
}

cryptHMAC_SHA256::~cryptHMAC_SHA256() {
    inner_.reset();
    SecureZero(inner_pad_, sizeof inner_pad_);
    SecureZero(outer_pad_, sizeof outer_pad_);
    SecureZero(key_block_, sizeof key_block_);
}

std::unique_ptr<MySHA> cryptHMAC_SHA256::CreateDigest() { return std::unique_ptr<MySHA>(new (std::nothrow) cryptSHA256()); }

void cryptHMAC_SHA256::Init(const uint8_t* key, uint32_t length) {
    memset(key_block_, 0, block_size_);
    memset(inner_pad_, 0x36, block_size_);
    memset(outer_pad_, 0x5C, block_size_);
    if (length > block_size_) {
        // RFC 2104: a key longer than the block is replaced by its hash.
        if (std::unique_ptr<MySHA> hash = CreateDigest()) {
            hash->Init();
            hash->Update(key, length);
            hash->Final(key_block_);
        }
    } else if (length != 0) {
        memcpy(key_block_, key, length);
    }
    for (uint32_t i = 0; i < block_size_; ++i) {
        inner_pad_[i] ^= key_block_[i];
        outer_pad_[i] ^= key_block_[i];
    }
    SecureZero(key_block_, block_size_);

    finish = 0;
    inner_ = CreateDigest();
    // The digest and the zero byte after it; SHA-512's digest fills the whole output buffer.
    memset(output, 0, std::min<size_t>(digest_size_ + 1, sizeof output));
    if (!inner_) return;
    inner_->Init();
    inner_->Update(inner_pad_, block_size_);
}

void cryptHMAC_SHA256::Update(const uint8_t* data, uint32_t length) {
    if (!inner_) return;
    if (length != 0) inner_->Update(data, length);
    if (!finish) return;
    inner_->Final(output);
    std::unique_ptr<MySHA> outer = CreateDigest();
    if (!outer) {
        memset(output, 0, sizeof output);
        return;
    }
    outer->Init();
    outer->Update(outer_pad_, block_size_);
    outer->Update(output, digest_size_);
    outer->Final(output);
}

cryptHMAC_SHA512::cryptHMAC_SHA512() : cryptHMAC_SHA256(64, 128) {}

std::unique_ptr<MySHA> cryptHMAC_SHA512::CreateDigest() { return std::unique_ptr<MySHA>(new (std::nothrow) cryptSHA512()); }

cryptHMAC_SHA384::cryptHMAC_SHA384() : cryptHMAC_SHA256(48, 128) {}

std::unique_ptr<MySHA> cryptHMAC_SHA384::CreateDigest() { return std::unique_ptr<MySHA>(new (std::nothrow) cryptSHA384()); }

// ---- Factory ------------------------------------------------------------------------------------

std::unique_ptr<cryptHMAC> CreateHMAC(int32_t type) {
    namespace at = algorithm_type;
    switch (type) {
        case at::kMD5: return std::unique_ptr<cryptHMAC>(new (std::nothrow) cryptHMAC_MD5());
        case at::kSHA1: return std::unique_ptr<cryptHMAC>(new (std::nothrow) cryptHMAC_SHA1());
        case at::kSHA256: return std::unique_ptr<cryptHMAC>(new (std::nothrow) cryptHMAC_SHA256());
        case at::kSHA512: return std::unique_ptr<cryptHMAC>(new (std::nothrow) cryptHMAC_SHA512());
        case at::kSHA384: return std::unique_ptr<cryptHMAC>(new (std::nothrow) cryptHMAC_SHA384());
        default: return nullptr;
    }
}

}  // namespace ombrix
