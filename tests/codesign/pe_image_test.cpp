// PE reading over images written by make_pe_files.py: the layout, the image digest against
// Python's MD5 and the DigestInfo of osslsigncode's own MD5 and SHA-256 signatures, the refused
// images, and blobs that read short or fail.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "codesign/authenticode_content.h"
#include "codesign/pe_image.h"
#include "memory_port.h"
#include "base/error_codes.h"
#include "test_bytes.h"

namespace {

using namespace ombrix;
using test::Bytes;
using test::ToHex;
using testing_blobs::MemoryPort;


// The image digest with the crypto library's EVP interface.
class EvpSink : public ImageDigestSink {
public:
    explicit EvpSink(const EVP_MD* md) : context_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(context_, md, nullptr); }
    ~EvpSink() override { EVP_MD_CTX_free(context_); }
    void Update(const uint8_t* bytes, uint32_t count) override {
        EVP_DigestUpdate(context_, bytes, count);
        total += count;
    }
    Bytes Final() {
        Bytes digest(EVP_MAX_MD_SIZE);
        unsigned int length = 0;
        EVP_DigestFinal_ex(context_, digest.data(), &length);
        digest.resize(length);
        return digest;
    }
    uint64_t total = 0;

private:
    EVP_MD_CTX* context_;
};

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct PeCase {
    std::string name;
    int code = 0;
    uint32_t e = 0, magic = 0, checksum_offset = 0, entry_offset = 0;
    uint64_t size = 0;
    uint32_t padding = 0, table_offset = 0;
    std::string md5, osslsigncode_md5_info, osslsigncode_sha256_info;
};

std::vector<PeCase> LoadCases() {
    std::vector<PeCase> cases;
    std::ifstream in(std::string(PE_FILES_DIR) + "/cases.txt");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        PeCase c;
        fields >> c.name >> c.code >> c.e >> c.magic >> c.checksum_offset >> c.entry_offset >> c.size >> c.padding >>
            c.table_offset >> c.md5 >> c.osslsigncode_md5_info >> c.osslsigncode_sha256_info;
        if (fields) cases.push_back(c);
    }
    return cases;
}

Bytes ImageOf(const PeCase& c) { return ReadFileBytes(std::string(PE_FILES_DIR) + "/" + c.name + ".bin"); }

// The DigestInfo part of the indirect-data content: after the outer header and the fixed PE
// image data (53 bytes).
std::string DigestInfoHex(const DigestIdentifier& identifier, const Bytes& digest) {
    Buffer content;
    uint32_t header = 0;
    if (!BuildIndirectDataContent(identifier, digest.data(), static_cast<uint32_t>(digest.size()), content, &header))
        return "build failed";
    return ToHex(content.Data() + header + 53, content.Length() - header - 53);
}

TEST(PeImage, GeneratedImagesReadAsPythonAndOsslsigncodeSee) {
    const std::vector<PeCase> cases = LoadCases();
    ASSERT_GE(cases.size(), 30u) << "manifest missing: " << PE_FILES_DIR;
    int checked_with_osslsigncode = 0;
    for (const PeCase& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryPort port(ImageOf(c));
        ASSERT_EQ(port.data.size(), c.size);
        PeLayout layout;
        ASSERT_EQ(ReadPeLayout(port, layout), c.code);
        if (c.code != 0) continue;
        EXPECT_EQ(layout.size, c.size);
        EXPECT_EQ(layout.e, c.e);
        EXPECT_EQ(layout.magic, c.magic);
        EXPECT_EQ(layout.checksum_offset, c.checksum_offset);
        EXPECT_EQ(layout.entry_offset, c.entry_offset);
        EXPECT_EQ(layout.padding, c.padding);
        EXPECT_EQ(layout.table_offset, c.table_offset);

        EvpSink md5(EVP_md5());
        ASSERT_EQ(DigestHashedRanges(port, layout, md5), 0);
        EXPECT_EQ(md5.total, c.size - 12 + c.padding);
        const Bytes md5_digest = md5.Final();
        EXPECT_EQ(ToHex(md5_digest), c.md5);
        if (c.osslsigncode_md5_info != "-") {
            ++checked_with_osslsigncode;
            EXPECT_EQ(DigestInfoHex(kMd5DigestIdentifier, md5_digest), c.osslsigncode_md5_info);
        }
        if (c.osslsigncode_sha256_info != "-") {
            EvpSink sha256(EVP_sha256());
            ASSERT_EQ(DigestHashedRanges(port, layout, sha256), 0);
            EXPECT_EQ(DigestInfoHex(kSha256DigestIdentifier, sha256.Final()), c.osslsigncode_sha256_info);
        }
    }
    EXPECT_GE(checked_with_osslsigncode, 8);
}

TEST(PeImage, PaddingExamples) {
    const std::vector<PeCase> cases = LoadCases();
    auto find = [&](const char* name) {
        return *std::find_if(cases.begin(), cases.end(), [&](const PeCase& c) { return c.name == name; });
    };
    for (const char* name : {"pe32_1000", "pe32_1001"}) {
        SCOPED_TRACE(name);
        MemoryPort port(ImageOf(find(name)));
        PeLayout layout;
        ASSERT_EQ(ReadPeLayout(port, layout), 0);
        EXPECT_EQ(layout.table_offset, 1008u);
        EXPECT_EQ(layout.padding, strcmp(name, "pe32_1000") == 0 ? 8u : 7u);
        EXPECT_EQ(layout.entry_offset, layout.e + 152);
    }
    MemoryPort wide(ImageOf(find("pe64_resources_4099")));
    PeLayout layout;
    ASSERT_EQ(ReadPeLayout(wide, layout), 0);
    EXPECT_EQ(layout.entry_offset, layout.e + 168);
    EXPECT_EQ(PaddingTo8(1500), 4u);
    EXPECT_EQ(PaddingTo8(1496), 8u);
}

TEST(PeImage, ReadsFromTheStartWhateverThePositionAndAcrossShortReads) {
    const std::vector<PeCase> cases = LoadCases();
    const PeCase& c = *std::find_if(cases.begin(), cases.end(), [](const PeCase& k) { return k.name == "pe64_e_1024_100000"; });
    MemoryPort port(ImageOf(c));
    port.position = 5000;
    port.max_read = 7;
    PeLayout layout;
    ASSERT_EQ(ReadPeLayout(port, layout), 0);
    EXPECT_EQ(layout.e, c.e);
    EvpSink md5(EVP_md5());
    ASSERT_EQ(DigestHashedRanges(port, layout, md5), 0);
    EXPECT_EQ(ToHex(md5.Final()), c.md5);

    // Text followed by an image, positioned at the image: what would be signed is the text, so
    // it is refused.
    Bytes text(100, 'x');
    text.insert(text.end(), port.data.begin(), port.data.end());
    MemoryPort text_port(text);
    text_port.position = 100;
    EXPECT_EQ(ReadPeLayout(text_port, layout), kErrNotExecutable);
}

TEST(PeImage, FailingAndShrinkingBlobs) {
    const std::vector<PeCase> cases = LoadCases();
    const PeCase& c = *std::find_if(cases.begin(), cases.end(), [](const PeCase& k) { return k.name == "pe32_e_1024_70001"; });
    PeLayout layout;
    // Failing in the DOS header, at the PE headers, and in the middle of them.
    for (size_t fail_after : {size_t{0}, size_t{64}, size_t{100}}) {
        MemoryPort port(ImageOf(c));
        port.max_read = 50;
        port.fail_reads_after = fail_after;
        EXPECT_EQ(ReadPeLayout(port, layout), kErrReadBlobFailed) << fail_after;
    }
    // Reads that fail in the middle of the image, and an image that shrank after its headers
    // were read: counted bytes, not requested ones.
    MemoryPort port(ImageOf(c));
    ASSERT_EQ(ReadPeLayout(port, layout), 0);
    port.fail_reads_after = port.delivered + 40000;
    EvpSink sink(EVP_md5());
    EXPECT_EQ(DigestHashedRanges(port, layout, sink), kErrReadBlobFailed);
    port.fail_reads_after = SIZE_MAX;
    port.data.resize(c.size - 1);
    EXPECT_EQ(DigestHashedRanges(port, layout, sink), kErrReadBlobFailed);
}

TEST(AuthenticodeContent, CertificateTableLayout) {
    for (uint32_t length : {1500u, 1496u, 1u, 7u, 8u}) {
        SCOPED_TRACE(length);
        Bytes der(length);
        for (uint32_t i = 0; i < length; ++i) der[i] = static_cast<uint8_t>(i * 7 + 1);
        Buffer table;
        ASSERT_TRUE(BuildCertificateTable(der.data(), length, table));
        const uint32_t q = 8 - length % 8;
        ASSERT_EQ(table.Length(), length + q + 8);
        const uint8_t* t = table.Data();
        EXPECT_EQ(static_cast<uint32_t>(t[0] | t[1] << 8 | t[2] << 16 | t[3] << 24), length + q + 8);
        EXPECT_EQ(t[4], 0x00);
        EXPECT_EQ(t[5], 0x02);
        EXPECT_EQ(t[6], 0x02);
        EXPECT_EQ(t[7], 0x00);
        EXPECT_EQ(memcmp(t + 8, der.data(), length), 0);
        EXPECT_TRUE(std::all_of(t + 8 + length, t + table.Length(), [](uint8_t b) { return b == 0; }));
        if (length == 1500 || length == 1496) {
            EXPECT_EQ(table.Length(), 1512u);
        }
    }
}

TEST(AuthenticodeContent, Md5IndirectDataIsTheFixedContent) {
    const uint8_t fixed[73] = {
        0x30, 0x57, 0x30, 0x33, 0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F, 0x30, 0x25, 0x03,
        0x01, 0x00, 0xA0, 0x20, 0xA2, 0x1E, 0x80, 0x1C, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x4F, 0x00, 0x62, 0x00,
        0x73, 0x00, 0x6F, 0x00, 0x6C, 0x00, 0x65, 0x00, 0x74, 0x00, 0x65, 0x00, 0x3E, 0x00, 0x3E, 0x00, 0x3E, 0x30, 0x20,
        0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
    uint8_t digest[16];
    for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(0xF0 + i);
    Buffer content;
    uint32_t header = 0;
    ASSERT_TRUE(BuildIndirectDataContent(kMd5DigestIdentifier, digest, 16, content, &header));
    ASSERT_EQ(content.Length(), 89u);
    EXPECT_EQ(header, 2u);
    EXPECT_EQ(memcmp(content.Data(), fixed, 73), 0);
    EXPECT_EQ(memcmp(content.Data() + 73, digest, 16), 0);
    // A digest of the wrong length for its algorithm is refused.
    EXPECT_FALSE(BuildIndirectDataContent(kMd5DigestIdentifier, digest, 15, content, &header));
    EXPECT_FALSE(BuildIndirectDataContent(kSha256DigestIdentifier, digest, 16, content, &header));
}

TEST(AuthenticodeContent, ObjectIdentifiersRegisterOnceAndResolveAfter) {
    // The statement type and opus identifiers of the signature: the second registration must
    // find the first instead of failing.
    for (const char* dotted : {"1.3.6.1.4.1.311.2.1.11", "1.3.6.1.4.1.311.2.1.12"}) {
        const int first = RegisterObjectIdentifier(dotted);
        EXPECT_NE(first, 0) << dotted;
        EXPECT_EQ(RegisterObjectIdentifier(dotted), first) << dotted;
        EXPECT_EQ(OBJ_txt2nid(dotted), first) << dotted;
    }
    // A known identifier is not registered again.
    EXPECT_EQ(RegisterObjectIdentifier("1.2.840.113549.2.5"), NID_md5);
    EXPECT_EQ(RegisterObjectIdentifier("not an identifier"), 0);
}

}  // namespace
