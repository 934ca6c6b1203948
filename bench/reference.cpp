// The reference measurements: OpenSSL EVP ciphers in one update call, zlib's one-call compress2.
// The ENGINE calls used for the built-in ciphers are deprecated in OpenSSL 3.0.
#define OPENSSL_API_COMPAT 0x10100000L

#include "reference.h"

#include <windows.h>

#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "timer.h"

namespace bench {

namespace {

struct CipherFree {
    void operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }
};
struct ContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
struct EngineFree {
    void operator()(ENGINE* engine) const { ENGINE_free(engine); }
};

RunResult Failure(std::string message) {
    const unsigned long code = ERR_get_error();
    if (code != 0) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        message += ": ";
        message += text;
    }
    ERR_clear_error();
    RunResult result;
    result.error = std::move(message);
    return result;
}

// OpenSSL 3 serves RC4 and the other old ciphers only from its "legacy" provider, a loadable
// module that the static library does not carry. Their built-in implementations are still
// linked in; an engine that hands them out makes EVP run them on its engine path.
int BuiltInCiphers(ENGINE*, const EVP_CIPHER** cipher, const int** nids, int nid) {
    if (!cipher) {
        *nids = nullptr;
        return 0;
    }
    *cipher = EVP_get_cipherbynid(nid);
    return *cipher ? 1 : 0;
}

// A cipher ready for EVP_CipherInit_ex: fetched from a provider, or built in and served by an
// engine of its own.
struct ResolvedCipher {
    std::unique_ptr<EVP_CIPHER, CipherFree> fetched;
    std::unique_ptr<ENGINE, EngineFree> engine;
    const EVP_CIPHER* cipher = nullptr;
};

bool Resolve(const char* name, ResolvedCipher& resolved) {
    resolved.fetched.reset(EVP_CIPHER_fetch(nullptr, name, nullptr));
    if (resolved.fetched) {
        resolved.cipher = resolved.fetched.get();
        return true;
    }
    ERR_clear_error();
    resolved.cipher = EVP_get_cipherbyname(name);
    if (!resolved.cipher) return false;
    resolved.engine.reset(ENGINE_new());
    return resolved.engine && ENGINE_set_id(resolved.engine.get(), "ombrix-bench-builtin") &&
           ENGINE_set_name(resolved.engine.get(), "OpenSSL built-in ciphers") &&
           ENGINE_set_ciphers(resolved.engine.get(), BuiltInCiphers);
}

RunResult RunCipher(const char* name, bool decrypt, std::span<const uint8_t> key, std::span<const uint8_t> iv,
                    std::span<const uint8_t> input, std::vector<uint8_t>& output) {
    ResolvedCipher resolved;
    if (!Resolve(name, resolved)) return Failure(std::string("OpenSSL has no cipher ") + name);
    if (input.size() > INT_MAX - 64) return Failure("input too large for one EVP update");
    const int iv_length = EVP_CIPHER_get_iv_length(resolved.cipher);
    if (iv_length > 0 && iv.size() < static_cast<size_t>(iv_length)) return Failure("IV shorter than the cipher's");
    const int encrypt = decrypt ? 0 : 1;
    output.resize(input.size() + EVP_CIPHER_get_block_size(resolved.cipher));

    const double start = Now();
    std::unique_ptr<EVP_CIPHER_CTX, ContextFree> context(EVP_CIPHER_CTX_new());
    if (!context) return Failure("EVP_CIPHER_CTX_new");
    if (!EVP_CipherInit_ex(context.get(), resolved.cipher, resolved.engine.get(), nullptr, nullptr, encrypt))
        return Failure("EVP_CipherInit_ex");
    if (static_cast<size_t>(EVP_CIPHER_CTX_get_key_length(context.get())) != key.size() &&
        !EVP_CIPHER_CTX_set_key_length(context.get(), static_cast<int>(key.size())))
        return Failure("EVP_CIPHER_CTX_set_key_length");
    if (!EVP_CipherInit_ex(context.get(), nullptr, nullptr, key.data(), iv_length > 0 ? iv.data() : nullptr, encrypt))
        return Failure("EVP_CipherInit_ex (key)");
    EVP_CIPHER_CTX_set_padding(context.get(), 0);
    int produced = 0, final_produced = 0;
    if (!EVP_CipherUpdate(context.get(), output.data(), &produced, input.data(), static_cast<int>(input.size())))
        return Failure("EVP_CipherUpdate");
    if (!EVP_CipherFinal_ex(context.get(), output.data() + produced, &final_produced))
        return Failure("EVP_CipherFinal_ex");
    const double seconds = Now() - start;

    output.resize(static_cast<size_t>(produced) + static_cast<size_t>(final_produced));
    return {true, seconds, {}};
}

RunResult RunZlib(int level, bool decompress, std::span<const uint8_t> input, size_t plain_size,
                  std::vector<uint8_t>& output) {
    if (input.size() > ULONG_MAX / 2 || plain_size > ULONG_MAX / 2) return Failure("input too large for zlib");
    output.resize(decompress ? plain_size : compressBound(static_cast<uLong>(input.size())));
    uLongf produced = static_cast<uLongf>(output.size());

    const double start = Now();
    const int status = decompress
        ? uncompress(output.data(), &produced, input.data(), static_cast<uLong>(input.size()))
        : compress2(output.data(), &produced, input.data(), static_cast<uLong>(input.size()), level);
    const double seconds = Now() - start;

    if (status != Z_OK) {
        return Failure(std::string(decompress ? "uncompress" : "compress2") + " failed: " + std::to_string(status));
    }
    output.resize(produced);
    return {true, seconds, {}};
}

// The whole input in one update call, as EVP is meant to be used.
RunResult RunDigest(const char* name, bool keyed, std::span<const uint8_t> key, std::span<const uint8_t> input,
                    std::vector<uint8_t>& output) {
    const EVP_MD* md = EVP_get_digestbyname(name);
    if (!md) return Failure(std::string("unknown digest ") + name);
    output.resize(EVP_MAX_MD_SIZE);
    unsigned int produced = 0;
    const double start = Now();
    const bool ok = keyed ? HMAC(md, key.data(), static_cast<int>(key.size()), input.data(), input.size(), output.data(),
                                 &produced) != nullptr
                          : EVP_Digest(input.data(), input.size(), output.data(), &produced, md, nullptr) == 1;
    const double seconds = Now() - start;
    if (!ok) return Failure(keyed ? "HMAC" : "EVP_Digest");
    output.resize(produced);
    return {true, seconds, {}};
}

RunResult RunCrc32(std::span<const uint8_t> input, std::vector<uint8_t>& output) {
    const double start = Now();
    uLong crc = crc32(0, Z_NULL, 0);
    for (size_t offset = 0; offset < input.size(); offset += UINT_MAX) {
        const size_t n = std::min<size_t>(input.size() - offset, UINT_MAX);
        crc = crc32(crc, input.data() + offset, static_cast<uInt>(n));
    }
    const double seconds = Now() - start;
    output = {static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16), static_cast<uint8_t>(crc >> 8),
              static_cast<uint8_t>(crc)};
    return {true, seconds, {}};
}

}  // namespace

bool SameReference(const Reference& a, const Reference& b) {
    if (a.kind != b.kind) return false;
    if (a.kind == Reference::Kind::Zlib) return a.level == b.level;
    if (a.kind == Reference::Kind::Crc32) return true;
    return std::strcmp(a.cipher, b.cipher) == 0;
}

bool OutputComparable(const Reference& reference) { return reference.kind != Reference::Kind::Zlib && reference.same_output; }

RunResult RunReference(const Reference& reference, bool decrypt, std::span<const uint8_t> key,
                       std::span<const uint8_t> iv, std::span<const uint8_t> input, size_t plain_size,
                       std::vector<uint8_t>& output) {
    switch (reference.kind) {
        case Reference::Kind::Zlib: return RunZlib(reference.level, decrypt, input, plain_size, output);
        case Reference::Kind::Digest: return RunDigest(reference.cipher, false, key, input, output);
        case Reference::Kind::Hmac: return RunDigest(reference.cipher, true, key, input, output);
        case Reference::Kind::Crc32: return RunCrc32(input, output);
        case Reference::Kind::Cipher: break;
    }
    return RunCipher(reference.cipher, decrypt, key, iv, input, output);
}

RunResult RunFileCipher(const char* name, std::span<const uint8_t> key, std::span<const uint8_t> iv, const wchar_t* from,
                        const wchar_t* to, size_t buffer_size) {
    ResolvedCipher resolved;
    if (!Resolve(name, resolved)) return Failure(std::string("OpenSSL has no cipher ") + name);
    if (buffer_size > INT_MAX - 64) return Failure("buffer too large for one EVP update");
    std::vector<uint8_t> in(buffer_size), out(buffer_size + 64);
    struct Handle {
        HANDLE value;
        ~Handle() {
            if (value != INVALID_HANDLE_VALUE) CloseHandle(value);
        }
    };

    const double start = Now();
    const Handle source{CreateFileW(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)};
    const Handle target{CreateFileW(to, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr)};
    if (source.value == INVALID_HANDLE_VALUE || target.value == INVALID_HANDLE_VALUE) return Failure("CreateFileW");
    std::unique_ptr<EVP_CIPHER_CTX, ContextFree> context(EVP_CIPHER_CTX_new());
    if (!context || !EVP_CipherInit_ex(context.get(), resolved.cipher, resolved.engine.get(), key.data(), iv.data(), 1))
        return Failure("EVP_CipherInit_ex");
    EVP_CIPHER_CTX_set_padding(context.get(), 0);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(source.value, in.data(), static_cast<DWORD>(in.size()), &got, nullptr)) return Failure("ReadFile");
        if (got == 0) break;
        int produced = 0;
        if (!EVP_CipherUpdate(context.get(), out.data(), &produced, in.data(), static_cast<int>(got)))
            return Failure("EVP_CipherUpdate");
        DWORD written = 0;
        if (!WriteFile(target.value, out.data(), static_cast<DWORD>(produced), &written, nullptr) ||
            written != static_cast<DWORD>(produced))
            return Failure("WriteFile");
    }
    return {true, Now() - start, {}};
}

}  // namespace bench
