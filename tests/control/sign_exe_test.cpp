// SignEXE and VerifyEXE through the control: programs built by mingw signed with a PEM key (the
// check entry then verifies them with osslsigncode and Python), refusals and their codes, and
// verification of our own and osslsigncode's signatures with the trust results mapped.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "allocation_hook.h"
#include "blobs/FileBlob.h"
#include "blobs/MemBlob.h"
#include "control/Ombrix.h"
#include "codesign/tsa_server_process.h"
#include "codesign/certificate_table.h"
#include "codesign/platform_authenticode.h"
#include "test_util.h"

namespace {

using test::ComPtr;
using test::Create;
using ombrix::COmbrix;

// The certificate component's class (the registered stand-in).
constexpr CLSID CLSID_Certificate = {0x4d9ae59c, 0x8651, 0x4f93, {0x8d, 0x07, 0x74, 0xe3, 0xa4, 0xb4, 0x12, 0xf8}};

std::string DataFile(const std::string& name) { return std::string(CODESIGN_DATA_DIR) + "/" + name; }
std::wstring WinePath(const std::string& name) {
    const std::string path = "Z:" + DataFile(name);
    return std::wstring(path.begin(), path.end());
}
std::string ReadText(const std::string& name) {
    std::ifstream in(DataFile(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
bool Exists(const std::string& name) { return std::ifstream(DataFile(name)).good(); }

ComPtr<IMemBlob> FileBlobInMemory(const std::string& name) {
    auto blob = Create<ombrix::CMemBlob, IMemBlob>();
    EXPECT_EQ(blob->FromFile(com::Bstr(WinePath(name).c_str()).Get()), S_OK) << name;
    return blob;
}

ComPtr<IBlob> AsBlob(IMemBlob* memory) {
    ComPtr<IBlob> blob;
    EXPECT_EQ(memory->QueryInterface(IID_PPV_ARGS(&blob)), S_OK);
    return blob;
}

std::string Content(IMemBlob* memory) {
    SAFEARRAY* raw = nullptr;
    EXPECT_EQ(memory->ToArray(&raw), S_OK);
    com::SafeArray array(raw);
    com::SafeArrayAccess access(raw);
    return std::string(reinterpret_cast<const char*>(access.Data()), com::SafeArrayCount(raw));
}

VARIANT Text(const wchar_t* text) {
    VARIANT value;
    VariantInit(&value);
    if (text) {
        V_VT(&value) = VT_BSTR;
        V_BSTR(&value) = SysAllocString(text);
    }
    return value;
}

// A certificate object of the registered stand-in holding the signer's PEM key and certificate.
ComPtr<ICertificate> SignerCertificate(bool with_key = true, const char* key_file = "signer.key") {
    ComPtr<ICertificate> certificate;
    EXPECT_EQ(CoCreateInstance(CLSID_Certificate, nullptr, CLSCTX_INPROC_SERVER, IID_ICertificate,
                               reinterpret_cast<void**>(certificate.GetAddressOf())),
              S_OK);
    if (!certificate) return certificate;
    const std::string pem = ReadText("signer.pem");
    EXPECT_EQ(certificate->put_Data(com::Bstr(std::wstring(pem.begin(), pem.end()).c_str()).Get()), S_OK);
    if (with_key) {
        const std::string key = ReadText(key_file);
        EXPECT_EQ(certificate->put_PrivateKey(com::Bstr(std::wstring(key.begin(), key.end()).c_str()).Get()), S_OK);
    }
    return certificate;
}

class SignExe : public ::testing::Test {
protected:
    void SetUp() override {
        control_ = Create<COmbrix, IOmbrix>();
        Use(SignerCertificate().Get());
    }
    void Use(IUnknown* object) {
        VARIANT key;
        VariantInit(&key);
        V_VT(&key) = VT_UNKNOWN;
        V_UNKNOWN(&key) = object;
        ASSERT_EQ(control_->put_SecretKey(key), S_OK);
    }
    HRESULT Sign(IMemBlob* in, IMemBlob* out, const wchar_t* timestamp = nullptr, const wchar_t* description = nullptr,
                 const wchar_t* url = nullptr) {
        com::Variant stamp, text, link;
        *stamp.Put() = Text(timestamp);
        *text.Put() = Text(description);
        *link.Put() = Text(url);
        return control_->SignEXE(AsBlob(in).Get(), AsBlob(out).Get(), *stamp.Get(), *text.Get(), *link.Get());
    }
    // Signs `source`.exe and leaves signed_<source>__<suffix>.exe for the check entry.
    void SignToFile(const std::string& source, const wchar_t* description, const wchar_t* url, const std::string& suffix) {
        auto in = FileBlobInMemory(source + ".exe");
        auto out = Create<ombrix::CMemBlob, IMemBlob>();
        ASSERT_EQ(Sign(in.Get(), out.Get(), nullptr, description, url), S_OK) << source;
        const std::string name = "signed_" + source + (suffix.empty() ? "" : "__" + suffix) + ".exe";
        ASSERT_EQ(out->ToFile(com::Bstr(WinePath(name).c_str()).Get()), S_OK);
    }
    ComPtr<IOmbrix> control_;
};

TEST_F(SignExe, ProgramsOfBothSizeClassesAndBothWidthsAreSigned) {
    int signed_count = 0;
    for (const char* source : {"unsigned64_aligned", "unsigned64_odd", "unsigned32_aligned", "unsigned32_odd"}) {
        if (!Exists(std::string(source) + ".exe")) continue;  // the 32-bit compiler is optional here
        SignToFile(source, nullptr, nullptr, "");
        ++signed_count;
    }
    EXPECT_GE(signed_count, 2);
    // Opus information: description and URL, a URL alone.
    SignToFile("unsigned64_odd", L"AB", L"u", "desc_url");
    SignToFile("unsigned64_aligned", L"", L"u", "url_only");
    // The SHA types sign with their digest and write the checksum (checked with Python and
    // osslsigncode by the check entry).
    const struct {
        CryptoTypes type;
        const char* source;
        const char* suffix;
    } digests[] = {{SHA256, "unsigned64_odd", "sha256"}, {SHA256, "unsigned32_odd", "sha256"},
                   {SHA1, "unsigned64_aligned", "sha1"}, {SHA512, "unsigned32_aligned", "sha512"},
                   {SHA384, "unsigned64_aligned", "desc_sha384"}};
    for (const auto& row : digests) {
        if (!Exists(std::string(row.source) + ".exe")) continue;
        ASSERT_EQ(control_->put_type(row.type), S_OK);
        SignToFile(row.source, L"AB", nullptr, row.suffix);
    }
}

TEST_F(SignExe, RefusalsLeaveTheOutputUntouched) {
    auto program = FileBlobInMemory("unsigned64_odd.exe");
    auto out = Create<ombrix::CMemBlob, IMemBlob>();
    ASSERT_EQ(out->put_Text(com::Bstr(L"previous").Get()), S_OK);
    const std::string before = Content(out.Get());

    test::ExpectErrorReport(Sign(FileBlobInMemory("text.exe").Get(), out.Get()), 30013, COmbrix::kProgId);
    test::ExpectErrorReport(Sign(FileBlobInMemory("osslsigncode64_md5.exe").Get(), out.Get()), 30014, COmbrix::kProgId);
    EXPECT_EQ(Sign(program.Get(), program.Get()), E_INVALIDARG);
    EXPECT_EQ(control_->SignEXE(nullptr, AsBlob(out.Get()).Get(), VARIANT{}, VARIANT{}, VARIANT{}), E_INVALIDARG);
    // An unreachable time-stamp server: nothing is written.
    test::ExpectErrorReport(Sign(program.Get(), out.Get(), L"http://127.0.0.1:1/"), 30017, COmbrix::kProgId);
    // A key that does not belong to the certificate, then no object at all.
    Use(SignerCertificate(true, "other.key").Get());
    test::ExpectErrorReport(Sign(program.Get(), out.Get()), 30015, COmbrix::kProgId);
    com::Variant text;
    *text.Put() = Text(L"a password");
    ASSERT_EQ(control_->put_SecretKey(*text.Get()), S_OK);
    test::ExpectErrorReport(Sign(program.Get(), out.Get()), 30015, COmbrix::kProgId);
    // A certificate object with neither key nor a handle the process knows.
    auto no_key = SignerCertificate(false);
    ASSERT_EQ(no_key->put_Handle(4711), S_OK);
    Use(no_key.Get());
    test::ExpectErrorReport(Sign(program.Get(), out.Get()), 30015, COmbrix::kProgId);
    EXPECT_EQ(Content(out.Get()), before);
}

TEST_F(SignExe, TwoSigningsInOneProcessIntoBlobsHoldingData) {
    auto program = FileBlobInMemory("unsigned64_odd.exe");
    auto first = Create<ombrix::CMemBlob, IMemBlob>();
    ASSERT_EQ(Sign(program.Get(), first.Get()), S_OK);
    const std::string image = Content(first.Get());
    ASSERT_GT(image.size(), 15363u);

    // A file blob written in place from its start: a longer old content is cut after the table.
    const std::wstring path = test::TempPath(L"sign_exe_longer.bin");
    auto file = Create<ombrix::CFileBlob, IFileBlob>();
    ASSERT_EQ(file->put_Filename(com::Bstr(path.c_str()).Get()), S_OK);
    ASSERT_EQ(file->put_Text(com::Bstr(std::wstring(40000, L'x').c_str()).Get()), S_OK);
    ComPtr<IBlob> file_blob;
    ASSERT_EQ(file.As(&file_blob), S_OK);
    ASSERT_EQ(file_blob->Seek(0, 0, nullptr), S_OK);
    com::Variant none;
    ASSERT_EQ(control_->SignEXE(AsBlob(program.Get()).Get(), file_blob.Get(), *none.Get(), *none.Get(), *none.Get()), S_OK);
    const std::string written = test::ReadFileBytes(path);
    EXPECT_EQ(written.size(), image.size());
    EXPECT_EQ(written.find("xxxxxxxx"), std::string::npos);

    // A memory blob appends: what it held stays in front of the image.
    auto memory = Create<ombrix::CMemBlob, IMemBlob>();
    ASSERT_EQ(memory->put_Text(com::Bstr(L"previous").Get()), S_OK);
    ASSERT_EQ(Sign(program.Get(), memory.Get()), S_OK);
    const std::string both = Content(memory.Get());
    EXPECT_EQ(both.substr(0, 8), "previous");
    EXPECT_EQ(both.size(), 8 + image.size());

    // A memory blob read to its end (as VerifyEXE and Read(-1) leave it) holds the image alone,
    // from position 0, whether its old content was longer or shorter.
    for (size_t old_size : {size_t{100}, image.size() + 5000}) {
        auto reused = Create<ombrix::CMemBlob, IMemBlob>();
        ASSERT_EQ(reused->put_Text(com::Bstr(std::wstring(old_size, L'o').c_str()).Get()), S_OK);
        SAFEARRAY* everything = nullptr;
        ASSERT_EQ(AsBlob(reused.Get())->Read(-1, &everything), S_OK);
        SafeArrayDestroy(everything);
        ASSERT_EQ(Sign(program.Get(), reused.Get()), S_OK) << old_size;
        EXPECT_TRUE(Content(reused.Get()) == image) << old_size;  // (no image dump on failure)
        LONG position = -1;
        EXPECT_EQ(AsBlob(reused.Get())->Seek(0, 1, &position), S_OK);
        EXPECT_EQ(position, 0) << old_size;
    }
    file.Reset(), file_blob.Reset();
    DeleteFileW(path.c_str());
}

// A time-stamped signature from tsa_server.py; the check entry verifies it with osslsigncode
// against the server's CA.
TEST_F(SignExe, TimeStampedSignature) {
    const std::string tsa_dir = DataFile("tsa");
    const int port = test::TsaServerProcess::Start(PYTHON3_PROGRAM, TSA_SERVER_SCRIPT, OPENSSL_PROGRAM, tsa_dir);
    ASSERT_NE(port, 0) << "tsa_server.py did not start";
    auto program = FileBlobInMemory("unsigned64_odd.exe");
    auto out = Create<ombrix::CMemBlob, IMemBlob>();
    const auto url = [port](const wchar_t* mode) { return L"http://127.0.0.1:" + std::to_wstring(port) + L"/" + mode; };
    EXPECT_EQ(Sign(program.Get(), out.Get(), url(L"ok").c_str()), S_OK);
    ASSERT_EQ(out->ToFile(com::Bstr(WinePath("signed_unsigned64_odd__stamped.exe").c_str()).Get()), S_OK);
    // A server that answers with an error: 30017, nothing written.
    auto refused = Create<ombrix::CMemBlob, IMemBlob>();
    test::ExpectErrorReport(Sign(program.Get(), refused.Get(), url(L"status500").c_str()), 30017, COmbrix::kProgId);
    EXPECT_EQ(Content(refused.Get()), "");

    // SHA-256 with an RFC 3161 time stamp, both widths.
    ASSERT_EQ(control_->put_type(SHA256), S_OK);
    for (const char* source : {"unsigned64_odd", "unsigned32_odd"}) {
        if (!Exists(std::string(source) + ".exe")) continue;
        auto stamped = Create<ombrix::CMemBlob, IMemBlob>();
        EXPECT_EQ(Sign(FileBlobInMemory(std::string(source) + ".exe").Get(), stamped.Get(), url(L"rfc3161").c_str()), S_OK);
        const std::string name = std::string("signed_") + source + "__sha256_stamped.exe";
        ASSERT_EQ(stamped->ToFile(com::Bstr(WinePath(name).c_str()).Get()), S_OK);
    }
    // The other protocol's answer, a rejection, garbage, a token for another nonce: 30017.
    for (const wchar_t* mode : {L"legacyanswer", L"rfc3161rejected", L"garbage", L"rfc3161badnonce"}) {
        test::ExpectErrorReport(Sign(program.Get(), refused.Get(), url(mode).c_str()), 30017, COmbrix::kProgId);
        EXPECT_EQ(Content(refused.Get()), "");
    }
    test::TsaServerProcess::Stop(port);
}

// The signer's PFX imported into the prefix's "MY" store; the certificate object carries only a
// handle to its context, so the signature is made through CryptoAPI. PEM signing afterwards is
// unaffected (the store key's RSA method is its own copy).
TEST_F(SignExe, StoreKeySignsThroughCryptoApi) {
    // The registered certificate component resolves handles through Ombrix.dll's table; this
    // program's control shares it, as a script's control would.
    auto probe = SignerCertificate(false);
    using TableFunction = const ombrix::CertificateTableApi*(WINAPI*)();
    HMODULE ombrix = GetModuleHandleW(L"Ombrix.dll");
    ASSERT_NE(ombrix, nullptr);
    auto table = reinterpret_cast<TableFunction>(GetProcAddress(ombrix, "OmbrixCertificateTable"));
    ASSERT_NE(table, nullptr);
    ombrix::UseCertificateTable(table());

    const std::string pfx = ReadText("signer.pfx");
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), reinterpret_cast<BYTE*>(const_cast<char*>(pfx.data()))};
    HCERTSTORE imported = PFXImportCertStore(&blob, L"", CRYPT_EXPORTABLE | CRYPT_USER_KEYSET);
    ASSERT_NE(imported, nullptr) << GetLastError();
    PCCERT_CONTEXT from_pfx = CertFindCertificateInStore(imported, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                         CERT_FIND_SUBJECT_STR_W, L"Ombrix test signer", nullptr);
    ASSERT_NE(from_pfx, nullptr);
    HCERTSTORE my = CertOpenSystemStoreW(0, L"MY");
    ASSERT_NE(my, nullptr);
    PCCERT_CONTEXT in_store = nullptr;
    ASSERT_TRUE(CertAddCertificateContextToStore(my, from_pfx, CERT_STORE_ADD_REPLACE_EXISTING, &in_store));
    CertFreeCertificateContext(from_pfx);
    CertCloseStore(imported, 0);

    ombrix::TableHandle handle = ombrix::TableHandle::Add(in_store);
    ASSERT_TRUE(handle);
    auto certificate = SignerCertificate(false);
    ASSERT_EQ(certificate->put_Data(com::Bstr(L"").Get()), S_OK);
    ASSERT_EQ(certificate->put_Handle(handle.Get()), S_OK);
    Use(certificate.Get());
    auto program = FileBlobInMemory("unsigned64_odd.exe");
    auto out = Create<ombrix::CMemBlob, IMemBlob>();
    EXPECT_EQ(Sign(program.Get(), out.Get()), S_OK);
    ASSERT_EQ(out->ToFile(com::Bstr(WinePath("signed_unsigned64_odd__store.exe").c_str()).Get()), S_OK);
    // SHA-256 through the AES provider type.
    ASSERT_EQ(control_->put_type(SHA256), S_OK);
    auto sha256 = Create<ombrix::CMemBlob, IMemBlob>();
    EXPECT_EQ(Sign(program.Get(), sha256.Get()), S_OK);
    ASSERT_EQ(sha256->ToFile(com::Bstr(WinePath("signed_unsigned64_odd__store_sha256.exe").c_str()).Get()), S_OK);
    ASSERT_EQ(control_->put_type(AES), S_OK);

    Use(SignerCertificate().Get());
    auto after = Create<ombrix::CMemBlob, IMemBlob>();
    EXPECT_EQ(Sign(FileBlobInMemory("unsigned64_aligned.exe").Get(), after.Get()), S_OK);
    ASSERT_EQ(after->ToFile(com::Bstr(WinePath("signed_unsigned64_aligned__after_store.exe").c_str()).Get()), S_OK);

    handle.Reset();
    CertDeleteCertificateFromStore(in_store);  // frees the context
    CertCloseStore(my, 0);
    ombrix::UseCertificateTable(nullptr);
}

class VerifyExe : public SignExe {
protected:
    HRESULT Verify(IMemBlob* data, ComPtr<ICertificate>& signer) {
        signer.Reset();
        return control_->VerifyEXE(AsBlob(data).Get(), signer.GetAddressOf());
    }
    std::wstring SignerPem(ICertificate* certificate) {
        com::Bstr pem;
        EXPECT_EQ(certificate->get_Data(pem.Put()), S_OK);
        return pem.Get() ? std::wstring(pem.Get()) : L"";
    }
};

TEST_F(VerifyExe, OurAndOsslsigncodeSignaturesVerifyAndNameTheSigner) {
    auto program = FileBlobInMemory("unsigned64_odd.exe");
    auto ours = Create<ombrix::CMemBlob, IMemBlob>();
    ASSERT_EQ(Sign(program.Get(), ours.Get()), S_OK);
    ASSERT_EQ(control_->put_type(SHA256), S_OK);
    auto ours_sha256 = Create<ombrix::CMemBlob, IMemBlob>();
    ASSERT_EQ(Sign(program.Get(), ours_sha256.Get()), S_OK);
    const std::string expected_pem = ReadText("signer.pem");
    const ComPtr<IMemBlob> blobs[] = {ours, ours_sha256, FileBlobInMemory("osslsigncode64_md5.exe"),
                                      FileBlobInMemory("osslsigncode64_sha256.exe"),
                                      FileBlobInMemory("osslsigncode64_stamped.exe"),
                                      FileBlobInMemory("osslsigncode64_rfc3161.exe")};
    for (const ComPtr<IMemBlob>& held : blobs) {
        IMemBlob* blob = held.Get();
        ComPtr<ICertificate> signer;
        // Wine accepts the untrusted test root where Windows would give 31016 (tested below).
        EXPECT_EQ(Verify(blob, signer), S_OK);
        ASSERT_NE(signer, nullptr);
        std::wstring pem = SignerPem(signer.Get());
        std::string narrow(pem.begin(), pem.end());
        std::erase(narrow, '\r');
        EXPECT_EQ(narrow, expected_pem);
    }
}

TEST_F(VerifyExe, UnsignedChangedAndExhaustedInput) {
    ComPtr<ICertificate> signer;
    test::ExpectErrorReport(Verify(FileBlobInMemory("unsigned64_odd.exe").Get(), signer), 30016, COmbrix::kProgId);
    EXPECT_EQ(signer, nullptr);
    test::ExpectErrorReport(Verify(FileBlobInMemory("text.exe").Get(), signer), 30016, COmbrix::kProgId);

    // One changed byte: the signer is still named, the digest check fails with an unlisted result.
    std::string bytes;
    com::SafeArray array;
    SAFEARRAY* raw = nullptr;
    for (const char* name : {"osslsigncode64_md5.exe", "osslsigncode64_rfc3161.exe"}) {
        auto changed = FileBlobInMemory(name);
        bytes = Content(changed.Get());
        bytes[0x400] ^= 0x01;
        array = com::SafeArray::Bytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
        raw = array.Get();
        ASSERT_EQ(changed->FromArray(&raw), S_OK);
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(Verify(changed.Get(), signer), E_FAIL) << name;
        EXPECT_NE(signer, nullptr);
        EXPECT_FALSE(test::TakeErrorInfo().present);
    }

    // A certificate-table entry (and directory) claiming almost 4 GiB: refused as no signature,
    // without asking for memory beyond the image's size.
    auto forged = FileBlobInMemory("osslsigncode64_md5.exe");
    bytes = Content(forged.Get());
    const auto get = [&bytes](size_t at) { uint32_t value; memcpy(&value, &bytes[at], 4); return value; };
    const auto put = [&bytes](size_t at, uint32_t value) { memcpy(&bytes[at], &value, 4); };
    const uint32_t e = get(60);
    const uint32_t directory = e + ((get(e + 24) & 0xFFFF) == 0x20B ? 168 : 152);  // by the magic
    put(get(directory), 0xFFFFFFF8);
    put(directory + 4, 0xFFFFFFF8);
    array = com::SafeArray::Bytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
    raw = array.Get();
    ASSERT_EQ(forged->FromArray(&raw), S_OK);
    test::ResetLargestAllocation();
    test::ExpectErrorReport(Verify(forged.Get(), signer), 30016, COmbrix::kProgId);
    EXPECT_LT(test::LargestAllocation(), 16u << 20);
    EXPECT_EQ(signer, nullptr);

    // A blob already read to its end.
    auto read = FileBlobInMemory("osslsigncode64_md5.exe");
    ASSERT_EQ(AsBlob(read.Get())->Seek(0, 2, nullptr), S_OK);
    test::ExpectErrorReport(Verify(read.Get(), signer), 30009, COmbrix::kProgId);
    EXPECT_EQ(control_->VerifyEXE(nullptr, signer.GetAddressOf()), E_INVALIDARG);
}

// The trust provider's results as Windows gives them, injected: the table, TRUST_E_NOSIGNATURE
// by its last error, an unlisted result; the signer comes back every time.
TEST_F(VerifyExe, TrustResultsMapToTheirCodes) {
    static ombrix::TrustVerdict verdict;
    ombrix::SetTrustVerifierForTesting([](HANDLE) { return verdict; });
    struct Row {
        LONG result;
        DWORD last_error;
        int32_t code;
    };
    const Row rows[] = {
        {static_cast<LONG>(0x800B0109), 0, 31016}, {static_cast<LONG>(0x800B0101), 0, 31008},
        {static_cast<LONG>(0x800B0111), 0, 31004}, {static_cast<LONG>(0x80092026), 0, 31006},
        {static_cast<LONG>(0x800B0114), 0, 31027}, {static_cast<LONG>(0x800B0100), 0x800B0003, 31001},
        {static_cast<LONG>(0x800B0100), 0x800B0001, 31002}, {static_cast<LONG>(0x800B0100), 0x800B0100, 31000},
        {static_cast<LONG>(0x800B0100), 5, 31003},
    };
    auto signed_program = FileBlobInMemory("osslsigncode64_md5.exe");
    for (const Row& row : rows) {
        verdict = {row.result, row.last_error};
        ASSERT_EQ(AsBlob(signed_program.Get())->Seek(0, 0, nullptr), S_OK);
        ComPtr<ICertificate> signer;
        test::ExpectErrorReport(Verify(signed_program.Get(), signer), row.code, COmbrix::kProgId);
        EXPECT_NE(signer, nullptr) << row.code;
    }
    verdict = {static_cast<LONG>(0x80096010), 0};  // TRUST_E_BAD_DIGEST: not in the table
    ASSERT_EQ(AsBlob(signed_program.Get())->Seek(0, 0, nullptr), S_OK);
    ComPtr<ICertificate> signer;
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(Verify(signed_program.Get(), signer), E_FAIL);
    EXPECT_FALSE(test::TakeErrorInfo().present);
    ombrix::SetTrustVerifierForTesting(nullptr);
}

}  // namespace
