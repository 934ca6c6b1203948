#include "codesign/authenticode_signer.h"

#include <algorithm>
#include <memory>

#include "binding/binding.h"
#include "codesign/authenticode_content.h"
#include "binding/openssl_holders.h"
#include "codesign/pe_image.h"
#include "codesign/timestamp.h"
#include "base/error_codes.h"
#include "base/secure_bytes.h"

namespace ombrix {
namespace {

constexpr uint32_t kCopyPiece = 32768;
constexpr char kSpcIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";
constexpr char kSpcStatementTypeOid[] = "1.3.6.1.4.1.311.2.1.11";
constexpr char kSpcOpusInfoOid[] = "1.3.6.1.4.1.311.2.1.12";
// SEQUENCE { OBJECT IDENTIFIER 1.3.6.1.4.1.311.2.1.22 (commercial code signing) }
constexpr uint8_t kStatementType[] = {0x30, 0x0C, 0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x16};
// The RSA key flags of a store key: no check, external private key, sign-verify.
constexpr int kStoreKeyFlags = 0x61;

// The image digest (MD5) fed from the hashed ranges.
class Md5Sink final : public ImageDigestSink {
public:
    Md5Sink() { Crypto().MD5_Init(&context_); }
    ~Md5Sink() override { SecureZero(&context_, sizeof context_); }
    void Update(const uint8_t* bytes, uint32_t count) override { Crypto().MD5_Update(&context_, bytes, count); }
    void Finish(uint8_t digest[16]) { Crypto().MD5_Final(digest, &context_); }

private:
    MD5_CTX context_{};
};

// [tag] { [0] IMPLICIT content } as DER.
bool AppendTaggedField(Buffer& out, uint8_t tag, const Buffer& content) {
    Buffer inner;
    return AppendDerHeader(inner, 0x80, content.Length()) && inner.Append(content.Data(), content.Length()) &&
           AppendDerHeader(out, tag, inner.Length()) && out.Append(inner.Data(), inner.Length());
}

// A SEQUENCE value for a signed attribute: the library takes the string over.
bool AddSequenceAttribute(PKCS7_SIGNER_INFO* signer, int nid, const uint8_t* der, uint32_t length) {
    const CryptoBinding& crypto = Crypto();
    Asn1StringPtr value(crypto.ASN1_STRING_new());
    if (!value) return false;
    if (!crypto.ASN1_STRING_set(value.get(), der, static_cast<int>(length)) ||
        !crypto.PKCS7_add_signed_attribute(signer, nid, V_ASN1_SEQUENCE, value.get())) {
        return false;
    }
    value.release();  // the signer info owns it now
    return true;
}

// The library's RSA signing of a store key comes here: the method's application data is the
// signer. Only MD5 digests are signed, and only signatures of the modulus' size are taken.
int StoreKeySign(int type, const unsigned char* digest, unsigned int length, unsigned char* signature,
                 unsigned int* signature_length, const RSA* rsa) {
    const CryptoBinding& crypto = Crypto();
    if (type != NID_md5 || !digest || !signature || !signature_length) return 0;
    auto* signer = static_cast<StoreKeySigner*>(crypto.RSA_meth_get0_app_data(crypto.RSA_get_method(rsa)));
    if (!signer) return 0;
    Buffer result;
    if (!signer->SignMd5(digest, length, result)) return 0;
    if (result.Length() != static_cast<uint32_t>(crypto.RSA_size(rsa))) return 0;
    std::copy_n(result.Data(), result.Length(), signature);
    *signature_length = result.Length();
    return 1;
}

// A key with the certificate's public values whose signing goes to the store signer, through a
// copy of the RSA method of its own (the process-wide default method stays untouched).
int MakeStoreKey(X509* certificate, StoreKeySigner* signer, RsaMethodPtr& method, PkeyPtr& key) {
    const CryptoBinding& crypto = Crypto();
    if (!crypto.RSA_meth_dup || !crypto.RSA_meth_set_sign || !crypto.RSA_meth_set0_app_data ||
        !crypto.RSA_meth_get0_app_data || !crypto.RSA_set_method || !crypto.RSA_set_flags || !crypto.BN_dup ||
        !crypto.EVP_PKEY_assign || !crypto.RSA_get0_key || !crypto.RSA_set0_key || !crypto.EVP_PKEY_get0_RSA) {
        return kErrNoCertificate;
    }
    PkeyPtr public_key(crypto.X509_get_pubkey(certificate));
    const RSA* public_rsa = public_key ? crypto.EVP_PKEY_get0_RSA(public_key.get()) : nullptr;
    if (!public_rsa) return kErrNoCertificate;
    const BIGNUM* n = nullptr;
    const BIGNUM* e = nullptr;
    crypto.RSA_get0_key(public_rsa, &n, &e, nullptr);

    method.reset(crypto.RSA_meth_dup(crypto.RSA_get_method(public_rsa)));
    RsaPtr rsa(crypto.RSA_new());
    BignumPtr n_copy(n ? crypto.BN_dup(n) : nullptr);
    BignumPtr e_copy(e ? crypto.BN_dup(e) : nullptr);
    BignumPtr placeholder(crypto.BN_new());
    const bool built = method && rsa && n_copy && e_copy && placeholder && crypto.BN_set_word(placeholder.get(), 1) &&
                       crypto.RSA_meth_set_sign(method.get(), &StoreKeySign) &&
                       crypto.RSA_meth_set0_app_data(method.get(), signer) &&
                       crypto.RSA_set_method(rsa.get(), method.get());
    if (!built || !crypto.RSA_set0_key(rsa.get(), n_copy.get(), e_copy.get(), placeholder.get())) return kErrSignFailed;
    // The RSA key owns the three numbers from here on.
    n_copy.release();
    e_copy.release();
    placeholder.release();
    crypto.RSA_set_flags(rsa.get(), kStoreKeyFlags);
    key.reset(crypto.EVP_PKEY_new());
    if (!key || !crypto.EVP_PKEY_assign(key.get(), EVP_PKEY_RSA, rsa.get())) return kErrSignFailed;
    rsa.release();  // the key owns it now
    return 0;
}

// The signer's certificate and key: 30015 when either does not parse or they do not match.
int LoadSigner(const AuthenticodeRequest& request, X509Ptr& certificate, RsaMethodPtr& method, PkeyPtr& key) {
    const CryptoBinding& crypto = Crypto();
    BioChainPtr certificate_bio(crypto.BIO_new_mem_buf(request.certificate_pem.data(),
                                                       static_cast<int>(request.certificate_pem.size())));
    if (!certificate_bio) return kErrSignFailed;
    char no_passphrase[] = "";
    certificate.reset(crypto.PEM_read_bio_X509(certificate_bio.get(), nullptr, nullptr, no_passphrase));
    if (!certificate) return kErrNoCertificate;
    if (request.store_key) return MakeStoreKey(certificate.get(), request.store_key, method, key);

    BioChainPtr key_bio(crypto.BIO_new_mem_buf(request.private_key_pem.data(),
                                               static_cast<int>(request.private_key_pem.size())));
    if (!key_bio) return kErrSignFailed;
    // An encrypted key is refused: a server component cannot ask for its pass phrase.
    key.reset(crypto.PEM_read_bio_PrivateKey(key_bio.get(), nullptr, nullptr, no_passphrase));
    if (!key) return kErrNoCertificate;
    if (crypto.X509_check_private_key && !crypto.X509_check_private_key(certificate.get(), key.get())) {
        return kErrNoCertificate;
    }
    return 0;
}

// Replaces the SignedData's inner content (data, so far) with the indirect-data content.
bool SetIndirectDataContent(PKCS7* signed_data, const Buffer& content) {
    const CryptoBinding& crypto = Crypto();
    const ASN1_ITEM* any = crypto.ASN1_ANY_it();
    Asn1ItemPtr value(crypto.ASN1_item_new(any), Asn1ItemFree{any});
    Asn1StringPtr sequence(crypto.ASN1_STRING_new());
    if (!value || !sequence || !crypto.ASN1_STRING_set(sequence.get(), content.Data(), static_cast<int>(content.Length()))) {
        return false;
    }
    auto* any_value = reinterpret_cast<ASN1_TYPE*>(value.get());
    any_value->type = V_ASN1_SEQUENCE;
    any_value->value.sequence = sequence.release();  // the value owns it now
    ASN1_OBJECT* type = crypto.OBJ_txt2obj(kSpcIndirectDataOid, 1);
    if (!type) return false;
    // The data content's octet string goes; its type object is the library's static one.
    PKCS7* inner = signed_data->d.sign->contents;
    const Asn1StringPtr replaced_data(inner->d.data);
    inner->type = type;
    inner->d.other = reinterpret_cast<ASN1_TYPE*>(value.release());
    return true;
}

// The signed image's bytes: Data again from its start, hashed again on the way (so a change
// since the first digest is caught), with the checksum zeroed and the certificate-table entry
// set; then the padding and the table. Written from `out`'s current position.
Status WriteSignedImage(BlobPort& data, BlobPort& out, const PeLayout& layout, const Buffer& table,
                        const uint8_t expected_digest[16]) {
    if (!data.Seek(0, kSeekStart, nullptr).IsOk()) return Status::Code(kErrReadBlobFailed);
    out.ExpectWrites(layout.size + layout.padding + table.Length());
    const auto ranges = HashedRanges(layout);
    Md5Sink digest;
    Buffer piece;
    uint8_t entry[8];
    const uint32_t table_length = table.Length();
    for (int i = 0; i < 4; ++i) {
        entry[i] = static_cast<uint8_t>(layout.table_offset >> (8 * i));
        entry[4 + i] = static_cast<uint8_t>(table_length >> (8 * i));
    }
    for (uint64_t at = 0; at < layout.size;) {
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(kCopyPiece, layout.size - at));
        piece.Clear();
        if (int result = ReadExactly(data, count, piece); result != 0) return Status::Code(result);
        uint8_t* bytes = piece.Data();
        for (const ByteRange& range : ranges) {
            const uint64_t begin = std::max(range.begin, at);
            const uint64_t end = std::min(range.end, at + count);
            if (begin < end) digest.Update(bytes + (begin - at), static_cast<uint32_t>(end - begin));
        }
        for (uint64_t field = layout.checksum_offset; field < layout.checksum_offset + 4ull; ++field) {
            if (field >= at && field < at + count) bytes[field - at] = 0;
        }
        for (uint32_t i = 0; i < 8; ++i) {
            const uint64_t field = layout.entry_offset + uint64_t{i};
            if (field >= at && field < at + count) bytes[field - at] = entry[i];
        }
        if (const Status result = out.Write(bytes, count); !result.IsOk()) return result;
        at += count;
    }
    const uint8_t zeros[8] = {};
    digest.Update(zeros, layout.padding);
    uint8_t again[16];
    digest.Finish(again);
    if (!std::equal(again, again + 16, expected_digest)) return Status::Code(kErrReadBlobFailed);
    if (const Status result = out.Write(zeros, layout.padding); !result.IsOk()) return result;
    return out.Write(table.Data(), table.Length());
}

// The SignedData over the image digest, time-stamped when a URL is given, as DER.
int BuildSignature(const AuthenticodeRequest& request, const uint8_t image_digest[16], Buffer& der) {
    const CryptoBinding& crypto = Crypto();
    X509Ptr certificate;
    RsaMethodPtr method;
    PkeyPtr key;
    if (int result = LoadSigner(request, certificate, method, key); result != 0) return result;

    Pkcs7Ptr signed_data(crypto.PKCS7_new());
    if (!signed_data || !crypto.PKCS7_set_type(signed_data.get(), NID_pkcs7_signed)) return kErrSignFailed;
    PKCS7_SIGNER_INFO* signer = crypto.PKCS7_add_signature(signed_data.get(), certificate.get(), key.get(), crypto.EVP_md5());
    if (!signer) return kErrSignFailed;

    const int statement_nid = RegisterObjectIdentifier(kSpcStatementTypeOid);
    const int opus_nid = RegisterObjectIdentifier(kSpcOpusInfoOid);
    if (!statement_nid || !opus_nid) return kErrSignFailed;
    ASN1_OBJECT* content_type = crypto.OBJ_txt2obj(kSpcIndirectDataOid, 1);
    if (!content_type || !crypto.PKCS7_add_signed_attribute(signer, NID_pkcs9_contentType, V_ASN1_OBJECT, content_type)) {
        return kErrSignFailed;
    }
    if (!AddSequenceAttribute(signer, statement_nid, kStatementType, sizeof kStatementType)) return kErrSignFailed;
    if (!request.description.empty() || !request.url.empty()) {
        Buffer opus;
        if (!BuildOpusInfo(request.description, request.url, opus) ||
            !AddSequenceAttribute(signer, opus_nid, opus.Data(), opus.Length())) {
            return kErrSignFailed;
        }
    }

    Buffer content;
    uint32_t header_length = 0;
    if (!BuildIndirectDataContent(kMd5DigestIdentifier, image_digest, 16, content, &header_length)) return kErrSignFailed;
    if (!crypto.PKCS7_content_new(signed_data.get(), NID_pkcs7_data) ||
        !crypto.PKCS7_add_certificate(signed_data.get(), certificate.get())) {
        return kErrSignFailed;
    }
    {
        BioChainPtr stream(crypto.PKCS7_dataInit(signed_data.get(), nullptr));
        if (!stream) return kErrSignFailed;
        const int body = static_cast<int>(content.Length() - header_length);
        if (crypto.BIO_write(stream.get(), content.Data() + header_length, body) != body ||
            !crypto.PKCS7_dataFinal(signed_data.get(), stream.get())) {
            return kErrSignFailed;
        }
    }
    if (!SetIndirectDataContent(signed_data.get(), content)) return kErrSignFailed;

    if (!request.timestamp_url.empty() && RequestTimestamp(signed_data.get(), request.timestamp_url) != 0) {
        return kErrTimestampFailed;
    }
    const int length = crypto.i2d_PKCS7(signed_data.get(), nullptr);
    if (length <= 0) return kErrSignFailed;
    uint8_t* space = der.AppendSpace(static_cast<uint32_t>(length));
    if (!space) return kErrSignFailed;
    unsigned char* cursor = space;
    if (crypto.i2d_PKCS7(signed_data.get(), &cursor) != length) return kErrSignFailed;
    return 0;
}

}  // namespace

bool BuildOpusInfo(const std::string& description, const std::string& url, Buffer& der) {
    Buffer wide;
    for (const char c : description) {
        const uint8_t pair[2] = {0, static_cast<uint8_t>(c)};
        if (!wide.Append(pair, 2)) return false;
    }
    Buffer ascii;
    if (!url.empty() && !ascii.Append(reinterpret_cast<const uint8_t*>(url.data()), static_cast<uint32_t>(url.size()))) {
        return false;
    }
    Buffer fields;
    if (!AppendTaggedField(fields, 0xA0, wide) || !AppendTaggedField(fields, 0xA1, ascii)) return false;
    der.Clear();
    return AppendDerHeader(der, 0x30, fields.Length()) && der.Append(fields.Data(), fields.Length());
}

Status SignImage(BlobPort& data, BlobPort& out, const AuthenticodeRequest& request) {
    const CryptoBinding& crypto = Crypto();
    PeLayout layout;
    if (int result = ReadPeLayout(data, layout); result != 0) return Status::Code(result);
    crypto.OPENSSL_add_all_algorithms_conf(0, nullptr);
    crypto.EVP_add_digest(crypto.EVP_md5());

    Md5Sink sink;
    if (int result = DigestHashedRanges(data, layout, sink); result != 0) return Status::Code(result);
    uint8_t image_digest[16];
    sink.Finish(image_digest);

    Buffer der;
    if (int result = BuildSignature(request, image_digest, der); result != 0) return Status::Code(result);
    Buffer table;
    if (!BuildCertificateTable(der.Data(), der.Length(), table)) return Status::Code(kErrSignFailed);

    // Where the image goes: at the position for a blob that writes there, after its end for
    // one that always appends (a memory blob). Both are recorded before anything is written.
    uint64_t start = 0;
    uint64_t end_before = 0;
    if (const Status result = out.Seek(0, kSeekCurrent, &start); !result.IsOk()) return result;
    if (const Status result = out.Seek(0, kSeekEnd, &end_before); !result.IsOk()) return result;
    if (const Status result = out.Seek(static_cast<int64_t>(start), kSeekStart, nullptr); !result.IsOk()) return result;

    const uint64_t total = layout.size + layout.padding + table.Length();
    Status result = WriteSignedImage(data, out, layout, table, image_digest);
    uint64_t after = 0;
    out.Seek(0, kSeekCurrent, &after);
    const bool appended = after != start + total;
    if (result.IsOk()) {
        // A longer blob written in place ends after the table, so it holds exactly the signed
        // image; the position goes back to where the caller had it. A blob that appends and had
        // been read to its end started again at 0 with the image: the position goes there.
        uint64_t end = 0;
        result = out.Seek(0, kSeekEnd, &end);
        if (result.IsOk() && !appended && end > start + total) result = out.SetSize(start + total);
        const uint64_t image_start = appended && end >= total && start > end - total ? end - total : start;
        if (result.IsOk()) result = out.Seek(static_cast<int64_t>(image_start), kSeekStart, nullptr);
        if (result.IsOk()) return result;
    }
    // Nothing half-written stays behind.
    out.SetSize(appended ? end_before : start);
    out.Seek(static_cast<int64_t>(start), kSeekStart, nullptr);
    return result;
}

}  // namespace ombrix
