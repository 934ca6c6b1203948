#include "codesign/authenticode_signer.h"

#include <algorithm>
#include <memory>

#include "binding/binding.h"
#include "codesign/authenticode_content.h"
#include "binding/openssl_holders.h"
#include "codesign/pe_image.h"
#include "codesign/timestamp.h"
#include "base/byte_order.h"
#include "base/error_codes.h"

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

// The image digest fed from the hashed ranges, and (except for MD5 signatures, which keep a zero
// checksum) the header checksum over the same bytes. The two ranges left out (checksum and
// certificate-table entry) are 4 and 8 bytes long, so a byte's place in this stream has the
// parity of its file offset, which is all the checksum needs.
class ImageSink final : public ImageDigestSink {
public:
    explicit ImageSink(AuthenticodeDigest digest) : hash_(digest), with_checksum_(digest != AuthenticodeDigest::kMd5) {}
    void Update(const uint8_t* bytes, uint32_t count) override {
        hash_.Update(bytes, count);
        if (with_checksum_) checksum_.Add(position_, bytes, count);
        position_ += count;
    }
    bool Finish(Buffer& digest) { return hash_.Finish(digest); }
    PeChecksum& Checksum() { return checksum_; }

private:
    LibraryHash hash_;
    const bool with_checksum_;
    PeChecksum checksum_;
    uint64_t position_ = 0;
};

// [tag] { [0] IMPLICIT content } as DER.
bool AppendTaggedField(Buffer& out, uint8_t tag, const Buffer& content) {
    Buffer inner;
    return AppendDerElement(inner, 0x80, content.Data(), content.Length()) &&
           AppendDerElement(out, tag, inner.Data(), inner.Length());
}

// The library's RSA signing of a store key comes here: the method's application data is the
// signer. Only the signature digests are signed, and only signatures of the modulus' size taken.
int StoreKeySign(int type, const unsigned char* digest, unsigned int length, unsigned char* signature,
                 unsigned int* signature_length, const RSA* rsa) {
    const CryptoBinding& crypto = Crypto();
    AuthenticodeDigest kind;
    if (!DigestOfNid(type, kind) || !digest || !signature || !signature_length) return 0;
    auto* signer = static_cast<StoreKeySigner*>(crypto.RSA_meth_get0_app_data(crypto.RSA_get_method(rsa)));
    if (!signer) return 0;
    Buffer result;
    if (!signer->Sign(kind, digest, length, result)) return 0;
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

// Puts `value` at file offset `field` into the piece of `count` bytes that starts at offset `at`.
void PatchField(uint8_t* piece, uint64_t at, uint32_t count, uint64_t field, const uint8_t* value, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        if (field + i >= at && field + i < at + count) piece[field + i - at] = value[i];
    }
}

// The certificate-table entry: the table's offset and length.
void TableEntry(const PeLayout& layout, const Buffer& table, uint8_t entry[8]) {
    StoreLittleEndian32(entry, layout.table_offset);
    StoreLittleEndian32(entry + 4, table.Length());
}

// The signed image's bytes: Data again from its start, hashed again on the way (so a change
// since the first digest is caught), with the checksum field set and the certificate-table entry
// written; then the padding and the table. Written from `out`'s current position.
Status WriteSignedImage(BlobPort& data, BlobPort& out, const PeLayout& layout, const Buffer& table,
                        AuthenticodeDigest digest_kind, const Buffer& expected_digest, uint32_t checksum) {
    if (!data.Seek(0, kSeekStart, nullptr).IsOk()) return Status::Code(kErrReadBlobFailed);
    out.ExpectWrites(layout.size + layout.padding + table.Length());
    const auto ranges = HashedRanges(layout);
    LibraryHash digest(digest_kind);
    Buffer piece;
    uint8_t entry[8];
    TableEntry(layout, table, entry);
    uint8_t checksum_field[4];
    StoreLittleEndian32(checksum_field, checksum);
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
        PatchField(bytes, at, count, layout.checksum_offset, checksum_field, sizeof checksum_field);
        PatchField(bytes, at, count, layout.entry_offset, entry, sizeof entry);
        if (const Status result = out.Write(bytes, count); !result.IsOk()) return result;
        at += count;
    }
    const uint8_t zeros[8] = {};
    digest.Update(zeros, layout.padding);
    Buffer again;
    if (!digest.Finish(again)) return Status::Code(kErrSignFailed);
    if (again.Length() != expected_digest.Length() ||
        !std::equal(again.Data(), again.Data() + again.Length(), expected_digest.Data())) {
        return Status::Code(kErrReadBlobFailed);
    }
    if (const Status result = out.Write(zeros, layout.padding); !result.IsOk()) return result;
    return out.Write(table.Data(), table.Length());
}

// The SignedData over the image digest, time-stamped when a URL is given, as DER.
int BuildSignature(const AuthenticodeRequest& request, const Buffer& image_digest, Buffer& der) {
    const CryptoBinding& crypto = Crypto();
    X509Ptr certificate;
    RsaMethodPtr method;
    PkeyPtr key;
    if (int result = LoadSigner(request, certificate, method, key); result != 0) return result;

    Pkcs7Ptr signed_data(crypto.PKCS7_new());
    if (!signed_data || !crypto.PKCS7_set_type(signed_data.get(), NID_pkcs7_signed)) return kErrSignFailed;
    const EVP_MD* md = LibraryDigestOf(request.digest);
    PKCS7_SIGNER_INFO* signer = md ? crypto.PKCS7_add_signature(signed_data.get(), certificate.get(), key.get(), md) : nullptr;
    if (!signer) return kErrSignFailed;

    const int statement_nid = RegisterObjectIdentifier(kSpcStatementTypeOid);
    const int opus_nid = RegisterObjectIdentifier(kSpcOpusInfoOid);
    if (!statement_nid || !opus_nid) return kErrSignFailed;
    ASN1_OBJECT* content_type = crypto.OBJ_txt2obj(kSpcIndirectDataOid, 1);
    if (!content_type || !crypto.PKCS7_add_signed_attribute(signer, NID_pkcs9_contentType, V_ASN1_OBJECT, content_type)) {
        return kErrSignFailed;
    }
    if (!AddSequenceAttribute(signer, statement_nid, kStatementType, sizeof kStatementType, AttributeKind::kSigned)) return kErrSignFailed;
    if (!request.description.empty() || !request.url.empty()) {
        Buffer opus;
        if (!BuildOpusInfo(request.description, request.url, opus) ||
            !AddSequenceAttribute(signer, opus_nid, opus.Data(), opus.Length(), AttributeKind::kSigned)) {
            return kErrSignFailed;
        }
    }

    Buffer content;
    uint32_t header_length = 0;
    if (!BuildIndirectDataContent(IdentifierOf(request.digest), image_digest.Data(), image_digest.Length(), content,
                                  &header_length)) {
        return kErrSignFailed;
    }
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

    if (!request.timestamp_url.empty() && RequestTimestamp(signed_data.get(), request.timestamp_url, request.digest) != 0) {
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

    ImageSink sink(request.digest);
    if (int result = DigestHashedRanges(data, layout, sink); result != 0) return Status::Code(result);
    Buffer image_digest;
    if (!sink.Finish(image_digest)) return Status::Code(kErrSignFailed);

    Buffer der;
    if (int result = BuildSignature(request, image_digest, der); result != 0) return Status::Code(result);
    Buffer table;
    if (!BuildCertificateTable(der.Data(), der.Length(), table)) return Status::Code(kErrSignFailed);
    // The checksum of the whole signed file: the hashed bytes, the entry, the table (the padding
    // is zeros). MD5 signatures keep the zero they always had.
    uint32_t checksum = 0;
    if (request.digest != AuthenticodeDigest::kMd5) {
        uint8_t entry[8];
        TableEntry(layout, table, entry);
        sink.Checksum().Add(layout.entry_offset, entry, sizeof entry);
        sink.Checksum().Add(layout.table_offset, table.Data(), table.Length());
        checksum = sink.Checksum().Value(uint64_t{layout.table_offset} + table.Length());
    }

    // Where the image goes: at the position for a blob that writes there, after its end for
    // one that always appends (a memory blob). Both are recorded before anything is written.
    uint64_t start = 0;
    uint64_t end_before = 0;
    if (const Status result = out.Seek(0, kSeekCurrent, &start); !result.IsOk()) return result;
    if (const Status result = out.Seek(0, kSeekEnd, &end_before); !result.IsOk()) return result;
    if (const Status result = out.Seek(static_cast<int64_t>(start), kSeekStart, nullptr); !result.IsOk()) return result;

    const uint64_t total = layout.size + layout.padding + table.Length();
    Status result = WriteSignedImage(data, out, layout, table, request.digest, image_digest, checksum);
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
