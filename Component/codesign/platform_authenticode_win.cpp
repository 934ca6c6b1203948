#include "codesign/platform_authenticode.h"

#include <imagehlp.h>
#include <softpub.h>
#include <wintrust.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>

#include "base/unique.h"
#include "codesign/authenticode_content.h"
#include "base/error_codes.h"
#include "base/secure_bytes.h"

namespace ombrix {
namespace {

constexpr uint32_t kFilePiece = 65536;
constexpr uint32_t kCertificateHeaderLength = 8;  // length, revision, type

std::atomic<TrustVerifier> g_trust_verifier{&VerifyTrustOfFile};

// Releases what CryptoAPI handed out for one signature.
struct SigningHandles {
    HCRYPTPROV provider = 0;
    BOOL release_provider = FALSE;
    HCRYPTKEY key = 0;
    HCRYPTHASH hash = 0;
    ~SigningHandles() {
        if (hash) CryptDestroyHash(hash);
        if (key) CryptDestroyKey(key);
        if (provider && release_provider) CryptReleaseContext(provider, 0);
    }
};

// A temporary file of unique name, deleted (and closed) when the holder goes.
class TemporaryFile {
public:
    ~TemporaryFile() {
        file_.Reset();
        if (name_[0]) DeleteFileW(name_);
    }
    // Creates the file in the temporary directory with the prefix "blob" and opens it, not
    // shared, for reading and writing.
    bool Create() {
        wchar_t directory[1024];
        const DWORD length = GetTempPathW(1024, directory);
        if (length == 0 || length >= 1024 || GetTempFileNameW(directory, L"blob", 0, name_) == 0) {
            name_[0] = L'\0';
            return false;
        }
        file_.Reset(CreateFileW(name_, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_TEMPORARY, nullptr));
        return file_.Ok();
    }
    HANDLE Get() const { return file_.Get(); }

private:
    wchar_t name_[MAX_PATH + 1] = {};
    ombrix::FileHandle file_;
};

// Copies the blob from its position to its end into the file: 0, 30009 when the blob delivers
// less than it measured, 29 when a write fails.
int32_t CopyToFile(BlobPort& data, uint64_t size, HANDLE file) {
    Buffer piece;
    for (uint64_t done = 0; done < size;) {
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kFilePiece, size - done));
        piece.Clear();
        if (!data.Read(want, piece).IsOk() || piece.Length() == 0) return kErrReadBlobFailed;
        const uint32_t got = std::min(piece.Length(), want);
        DWORD written = 0;
        if (!WriteFile(file, piece.Data(), got, &written, nullptr) || written != got) return kErrWriteFault;
        done += got;
    }
    return 0;
}

ALG_ID HashAlgorithmOf(AuthenticodeDigest digest) {
    switch (digest) {
    case AuthenticodeDigest::kSha1: return CALG_SHA1;
    case AuthenticodeDigest::kSha256: return CALG_SHA_256;
    case AuthenticodeDigest::kSha384: return CALG_SHA_384;
    case AuthenticodeDigest::kSha512: return CALG_SHA_512;
    case AuthenticodeDigest::kMd5: break;
    }
    return CALG_MD5;
}

// The key container behind `provider`, opened through the AES provider type; 0 when it cannot be.
HCRYPTPROV OpenAesProvider(HCRYPTPROV provider) {
    char container[1024];
    DWORD length = sizeof container;
    if (!CryptGetProvParam(provider, PP_CONTAINER, reinterpret_cast<BYTE*>(container), &length, 0) || length == 0 ||
        length > sizeof container) {
        return 0;
    }
    container[sizeof container - 1] = '\0';
    DWORD keyset = 0;
    DWORD keyset_length = sizeof keyset;
    DWORD flags = CRYPT_SILENT;
    if (CryptGetProvParam(provider, PP_KEYSET_TYPE, reinterpret_cast<BYTE*>(&keyset), &keyset_length, 0) &&
        (keyset & CRYPT_MACHINE_KEYSET)) {
        flags |= CRYPT_MACHINE_KEYSET;
    }
    HCRYPTPROV aes = 0;
    return CryptAcquireContextA(&aes, container, nullptr, PROV_RSA_AES, flags) ? aes : 0;
}

struct TrustRow {
    LONG result;
    int32_t code;
};

constexpr TrustRow kTrustTable[] = {
    {static_cast<LONG>(0x800B0111), 31004}, {static_cast<LONG>(0x800B0004), 31005},
    {static_cast<LONG>(0x80092026), 31006}, {static_cast<LONG>(0x800B0101), 31008},
    {static_cast<LONG>(0x800B0102), 31009}, {static_cast<LONG>(0x800B0103), 31010},
    {static_cast<LONG>(0x800B0104), 31011}, {static_cast<LONG>(0x800B0105), 31012},
    {static_cast<LONG>(0x800B0106), 31013}, {static_cast<LONG>(0x800B0107), 31014},
    {static_cast<LONG>(0x800B0108), 31015}, {static_cast<LONG>(0x800B0109), 31016},
    {static_cast<LONG>(0x800B010A), 31017}, {static_cast<LONG>(0x800B010B), 31018},
    {static_cast<LONG>(0x800B010C), 31019}, {static_cast<LONG>(0x800B010D), 31020},
    {static_cast<LONG>(0x800B010E), 31021}, {static_cast<LONG>(0x800B010F), 31022},
    {static_cast<LONG>(0x800B0110), 31023}, {static_cast<LONG>(0x800B0112), 31025},
    {static_cast<LONG>(0x800B0113), 31026}, {static_cast<LONG>(0x800B0114), 31027},
};

}  // namespace

bool CryptoApiSigner::Sign(AuthenticodeDigest digest, const uint8_t* value, uint32_t length, Buffer& signature) {
    const ALG_ID algorithm = HashAlgorithmOf(digest);
    if (!context_ || !value || length != IdentifierOf(digest).digest_length) return false;
    SigningHandles handles;
    DWORD key_spec = 0;
    if (!CryptAcquireCertificatePrivateKey(context_, 0, nullptr, &handles.provider, &key_spec,
                                           &handles.release_provider)) {
        return false;
    }
    const bool sha2 = algorithm != CALG_MD5 && algorithm != CALG_SHA1;
    if (sha2) {
        // The base and strong providers have no SHA-2: the key's container again, opened through
        // the default provider of the AES type (when that fails, the key's own provider is tried).
        HCRYPTPROV aes = OpenAesProvider(handles.provider);
        if (aes) {
            if (handles.release_provider) CryptReleaseContext(handles.provider, 0);
            handles.provider = aes;
            handles.release_provider = TRUE;
        }
    }
    // Wine reports a PFX-imported key with key spec 3 (both uses); the key is then found under
    // one of the two.
    if (!CryptGetUserKey(handles.provider, key_spec, &handles.key)) {
        if (key_spec == AT_KEYEXCHANGE || key_spec == AT_SIGNATURE) return false;
        key_spec = AT_KEYEXCHANGE;
        if (!CryptGetUserKey(handles.provider, key_spec, &handles.key)) {
            key_spec = AT_SIGNATURE;
            if (!CryptGetUserKey(handles.provider, key_spec, &handles.key)) return false;
        }
    }
    if (!CryptCreateHash(handles.provider, algorithm, 0, 0, &handles.hash) ||
        !CryptSetHashParam(handles.hash, HP_HASHVAL, value, 0)) {
        return false;
    }
    DWORD size = 0;
    if (!CryptSignHashA(handles.hash, key_spec, nullptr, 0, nullptr, &size) || size == 0) return false;
    uint8_t* space = signature.AppendSpace(size);
    if (!space || !CryptSignHashA(handles.hash, key_spec, nullptr, 0, space, &size)) return false;
    signature.ConsumeEnd(signature.Length() - size);
    // CryptoAPI gives the least significant byte first.
    std::reverse(signature.Data(), signature.Data() + signature.Length());
    return true;
}

TrustVerdict VerifyTrustOfFile(HANDLE file) {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file_info{};
    file_info.cbStruct = sizeof file_info;
    file_info.hFile = file;
    WINTRUST_DATA trust{};
    trust.cbStruct = sizeof trust;
    trust.dwUIChoice = WTD_UI_NONE;
    trust.fdwRevocationChecks = WTD_REVOKE_NONE;
    trust.dwUnionChoice = WTD_CHOICE_FILE;
    trust.pFile = &file_info;
    trust.dwStateAction = 0;
    const LONG result = WinVerifyTrust(nullptr, &action, &trust);
    return TrustVerdict{result, GetLastError()};
}

void SetTrustVerifierForTesting(TrustVerifier verifier) { g_trust_verifier.store(verifier ? verifier : &VerifyTrustOfFile); }

int32_t TrustResultCode(const TrustVerdict& verdict) {
    if (verdict.result == 0) return 0;
    if (verdict.result == static_cast<LONG>(0x800B0100)) {  // TRUST_E_NOSIGNATURE: why, by the last error
        switch (verdict.last_error) {
            case 0x800B0003: return 31001;
            case 0x800B0001: return 31002;
            case 0x800B0100: return 31000;
            default: return 31003;
        }
    }
    for (const TrustRow& row : kTrustTable) {
        if (row.result == verdict.result) return row.code;
    }
    return -1;
}

int32_t ExtractAndVerify(BlobPort& data, CertContext& signer) {
    const uint64_t size = BlobRemainingSize(data);
    if (size == 0) return kErrReadBlobFailed;
    TemporaryFile file;
    if (!file.Create()) return kErrWriteFault;
    if (int32_t code = CopyToFile(data, size, file.Get()); code != 0) return code;

    DWORD count = 0;
    if (!ImageEnumerateCertificates(file.Get(), CERT_SECTION_TYPE_ANY, &count, nullptr, 0) || count != 1) {
        return kErrSignerNotFound;
    }
    // The entry's buffer is sized from its header (length, revision, type); a length beyond the
    // image's own size is a damaged or forged entry, not a reason to ask for gigabytes.
    WIN_CERTIFICATE header{};
    if (!ImageGetCertificateHeader(file.Get(), 0, &header) || header.dwLength <= kCertificateHeaderLength ||
        header.dwLength > size) {
        return kErrSignerNotFound;
    }
    DWORD length = header.dwLength;
    std::unique_ptr<uint8_t[]> entry(new (std::nothrow) uint8_t[length]);
    if (!entry) return kErrOutOfMemory;
    auto* certificate = reinterpret_cast<WIN_CERTIFICATE*>(entry.get());
    if (!ImageGetCertificateData(file.Get(), 0, certificate, &length) || length <= kCertificateHeaderLength ||
        length > header.dwLength) {
        return kErrSignerNotFound;
    }

    CRYPT_VERIFY_MESSAGE_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    parameters.dwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    CertContext context;
    if (!CryptVerifyMessageSignature(&parameters, 0, certificate->bCertificate, length - kCertificateHeaderLength,
                                     nullptr, nullptr, context.Put())) {
        return kErrSignerNotFound;
    }
    signer = std::move(context);
    return TrustResultCode(g_trust_verifier.load()(file.Get()));
}

}  // namespace ombrix
