// The streaming passes driven directly, on in-memory blobs that can deliver short reads and fail
// writes: vectors, round trips for every cipher, mode, padding and compression, batched runs
// against block-by-block processing, progress, abort, and damaged input.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/error_codes.h"
#include "crypto/algorithm_factory.h"
#include "crypto/algorithm_types.h"
#include "crypto/ciphers.h"
#include "memory_port.h"
#include "pass_owner.h"
#include "test_bytes.h"

namespace ombrix {
namespace {

namespace at = algorithm_type;
using test::Bytes;
using test::FromHex;
using test::RandomBytes;
using testing_blobs::MemoryPort;
using testing_passes::TestOwner;

std::unique_ptr<cryptSYMMETRIC> Keyed(int32_t type, TestOwner& owner, const Bytes& key) {
    auto cipher = CreateSymmetric(type);
    EXPECT_TRUE(cipher) << type;
    if (!cipher) return cipher;
    cipher->SetOwner(&owner);
    if (!key.empty()) cipher->SetKey(key.data(), static_cast<uint32_t>(key.size()));
    return cipher;
}

struct PassResult {
    Status code;
    Bytes output;
};

PassResult Encrypt(int32_t type, TestOwner& owner, const Bytes& key, const Bytes& plain, uint32_t max_read = UINT32_MAX) {
    MemoryPort in(plain, max_read), out;
    auto cipher = Keyed(type, owner, key);
    const Status code = cipher->EncryptBlob(in, out, false, &owner);
    EXPECT_EQ(owner.null_log_lines, 0);  // every debug log line is text
    return {code, out.data};
}

PassResult Decrypt(int32_t type, TestOwner& owner, const Bytes& key, const Bytes& cipher_text, uint32_t max_read = UINT32_MAX) {
    MemoryPort in(cipher_text, max_read), out;
    auto cipher = Keyed(type, owner, key);
    const Status code = cipher->DecryptBlob(in, out, &owner);
    EXPECT_EQ(owner.null_log_lines, 0);  // every debug log line is text
    return {code, out.data};
}

TEST(SymmetricPass, AesVectorWithNullPaddingAndPartialBlock) {
    // FIPS-197 C.1, then 4 more bytes padded with zeros into a second block.
    TestOwner owner;
    const Bytes key = FromHex("000102030405060708090a0b0c0d0e0f");
    Bytes plain = FromHex("00112233445566778899aabbccddeeff");
    const auto one = Encrypt(at::kAES, owner, key, plain);
    ASSERT_EQ(one.code, Status::Ok());
    EXPECT_EQ(one.output, FromHex("69c4e0d86a7b0430d8cdb78070b4c55a"));
    EXPECT_NE(owner.log.find("RawEncrypt::len = 16\r\n"), std::string::npos);

    plain.insert(plain.end(), {1, 2, 3, 4});
    const auto two = Encrypt(at::kAES, owner, key, plain);
    ASSERT_EQ(two.output.size(), 32u);
    const auto back = Decrypt(at::kAES, owner, key, two.output);
    Bytes expected = plain;
    expected.resize(32, 0);
    EXPECT_EQ(back.output, expected);
}

TEST(SymmetricPass, Pkcs7AddsAWholeBlockAndIsRemovedAlsoAtAFlush) {
    TestOwner owner;
    owner.padding = at::kPadPKCS7;
    const Bytes key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
    for (size_t length : {size_t{0}, size_t{16}, size_t{17}, size_t{127999}, size_t{128000}, size_t{300001}}) {
        const Bytes plain = RandomBytes(length, static_cast<uint32_t>(length));
        const auto encrypted = Encrypt(at::kAES, owner, key, plain);
        ASSERT_EQ(encrypted.output.size(), length ? (length / 16 + 1) * 16 : 0) << length;
        const auto back = Decrypt(at::kAES, owner, key, encrypted.output);
        EXPECT_EQ(back.code, Status::Ok());
        EXPECT_EQ(back.output, plain) << length;
    }
}

// Every Type, mode, padding and compression round-trips, with reads that cut blocks apart.
TEST(SymmetricPass, RoundTripsForEveryCombination) {
    const int32_t types[] = {at::kDES, at::kTripleDES, at::kAES, at::kAES192, at::kAES256, at::kBlowfish, at::kCast,
                             at::kRC2, at::kRC4, at::kRC5, at::kUNIXcrypt, at::kNone};
    const Bytes key = FromHex("0123456789abcdeffedcba98765432100011223344556677");
    for (int32_t type : types) {
        for (int32_t mode : {at::kModeECB, at::kModeCBC, at::kModeCFB, at::kModeOFB}) {
            for (int32_t compression : {at::kNoCompression, at::kZlibCompression, at::kGZipCompression}) {
                for (int32_t padding : {at::kPadNull, at::kPadSpace, at::kPadRandom, at::kPadPKCS7}) {
                    for (size_t length : {size_t{1}, size_t{9}, size_t{4099}, size_t{260000}}) {
                        if (length == 260000 && (padding != at::kPadPKCS7 || type == at::kRC4)) continue;
                        // Unix crypt chains over working blocks sized by the plaintext: with
                        // compression or a PKCS#7 block the decryption cannot find them again.
                        if (type == at::kUNIXcrypt && mode != at::kModeECB && (compression || padding == at::kPadPKCS7)) continue;
                        const Bytes plain = RandomBytes(length, static_cast<uint32_t>(length + type));
                        TestOwner owner;
                        owner.mode = mode, owner.padding = padding, owner.compression = compression;
                        owner.SetIv(FromHex("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"), 16);
                        const auto encrypted = Encrypt(type, owner, key, plain, 5000);
                        ASSERT_EQ(encrypted.code, Status::Ok());
                        owner.SetIv(FromHex("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf"), 16);
                        const auto back = Decrypt(type, owner, key, encrypted.output, 7001);
                        ASSERT_EQ(back.code, Status::Ok()) << type << " " << mode << " " << compression << " " << padding << " " << length;
                        ASSERT_GE(back.output.size(), plain.size());
                        // Without compression the padding of the last block stays unless it is PKCS#7.
                        ASSERT_TRUE(std::equal(plain.begin(), plain.end(), back.output.begin()))
                            << type << " " << mode << " " << compression << " " << padding << " " << length;
                        // (PKCS#7 over the Unix crypt's single working block adds a whole block.)
                        if ((padding == at::kPadPKCS7 && type != at::kUNIXcrypt) || compression != at::kNoCompression) {
                            EXPECT_EQ(back.output.size(), plain.size()) << type << " " << mode << " " << compression;
                        }
                    }
                }
            }
        }
    }
}

// A cipher whose runs are refused: the pass then goes block by block.
template <class Base>
class BlockByBlock : public Base {
public:
    bool EncryptRun(const uint8_t*, uint8_t*, size_t, bool, uint8_t*) override { return false; }
    bool DecryptRun(const uint8_t*, uint8_t*, size_t, bool, uint8_t*) override { return false; }
};

template <class Cipher>
std::unique_ptr<cryptSYMMETRIC> MadeCipher(bool block_by_block) {
    if (block_by_block) return std::make_unique<BlockByBlock<Cipher>>();
    return std::make_unique<Cipher>();
}

// Batched runs (EVP, AES_* and the other ciphers' own runs), also straight between blobs that lend
// their storage, give the bytes, flush points, progress and IV register of block-by-block
// processing.
TEST(SymmetricPass, BatchedRunsEqualBlockByBlock) {
    const Bytes key = RandomBytes(32, 7);
    const Bytes iv = RandomBytes(16, 8);
    // Made for each direction: batched, AES with its EVP runs off, block by block, batched between
    // blobs that lend their storage.
    auto make = [](int32_t type, int k) -> std::unique_ptr<cryptSYMMETRIC> {
        const bool single = k == 2;
        switch (type) {
            case at::kAES: {
                auto aes = MadeCipher<cryptAES>(single);
                static_cast<cryptAES*>(aes.get())->SetEvpRunsAllowed(k != 1);
                return aes;
            }
            case at::kAES256: return MadeCipher<cryptAES256>(single);
            case at::kDES: return MadeCipher<cryptDES>(single);
            case at::kTripleDES: return MadeCipher<cryptTripleDES>(single);
            case at::kBlowfish: return MadeCipher<cryptBlowfish>(single);
            case at::kCast: return MadeCipher<cryptCast>(single);
            case at::kRC2: return MadeCipher<cryptRC2>(single);
            default: return MadeCipher<cryptRC4>(single);
        }
    };
    for (int32_t type : {at::kAES, at::kAES256, at::kDES, at::kTripleDES, at::kBlowfish, at::kCast, at::kRC2, at::kRC4}) {
        for (int32_t mode : {at::kModeECB, at::kModeCBC}) {
            for (size_t length : {size_t{33}, size_t{4096}, size_t{128000}, size_t{300017}}) {
                for (uint32_t max_read : {1000u, 65536u, UINT32_MAX}) {
                    const Bytes plain = RandomBytes(length, static_cast<uint32_t>(length));
                    std::vector<MemoryPort> outputs(4);
                    std::vector<Bytes> ivs;
                    std::vector<std::vector<std::pair<uint64_t, uint64_t>>> progress;
                    for (int k = 0; k < 4; ++k) {
                        // AES alone has a second way of batching; the lending blobs read in one piece.
                        if ((k == 1 && type != at::kAES) || (k == 3 && max_read != UINT32_MAX)) continue;
                        TestOwner owner;
                        owner.mode = mode;
                        owner.padding = at::kPadPKCS7;
                        owner.SetIv(iv, 16);
                        auto cipher = make(type, k);
                        cipher->SetOwner(&owner);
                        cipher->SetKey(key.data(), static_cast<uint32_t>(key.size()));
                        MemoryPort in(plain, max_read);
                        in.views = outputs[k].views = k == 3;
                        ASSERT_EQ(cipher->EncryptBlob(in, outputs[k], false, &owner), Status::Ok());
                        ivs.emplace_back(owner.iv.Data(), owner.iv.Data() + cipher->BlockSize());
                        // A fresh object decrypts, so schedules are exercised in both directions.
                        auto decryptor = make(type, k);
                        owner.SetIv(iv, 16);
                        decryptor->SetOwner(&owner);
                        decryptor->SetKey(key.data(), static_cast<uint32_t>(key.size()));
                        MemoryPort encrypted(outputs[k].data, max_read), back;
                        encrypted.views = back.views = k == 3;
                        ASSERT_EQ(decryptor->DecryptBlob(encrypted, back, &owner), Status::Ok());
                        EXPECT_EQ(back.data, plain) << type << " " << mode << " " << length << " " << k;
                        ivs.emplace_back(owner.iv.Data(), owner.iv.Data() + decryptor->BlockSize());
                        progress.push_back(owner.progress);
                        if (k == 2) {
                            EXPECT_EQ(outputs[0].data, outputs[2].data) << type << " " << mode << " " << length << " " << max_read;
                            EXPECT_EQ(outputs[0].writes, outputs[2].writes);
                            EXPECT_EQ(ivs[0], ivs[ivs.size() - 2]);
                            EXPECT_EQ(ivs[1], ivs.back());
                            EXPECT_EQ(progress[0], progress.back());
                        } else if (k != 0) {
                            EXPECT_EQ(outputs[k].data, outputs[0].data) << type << " " << mode << " " << length << " " << k;
                            EXPECT_EQ(ivs[ivs.size() - 2], ivs[0]);
                            EXPECT_EQ(ivs.back(), ivs[1]);
                            EXPECT_EQ(progress.back(), progress[0]);
                        }
                    }
                }
            }
        }
    }
}

TEST(SymmetricPass, ProgressAbortAndAControlReleasedByItsHandler) {
    const Bytes key = RandomBytes(16, 1);
    const Bytes plain = RandomBytes(300000, 2);
    {
        TestOwner owner;
        const auto result = Encrypt(at::kAES, owner, key, plain);
        ASSERT_EQ(result.code, Status::Ok());
        ASSERT_GE(owner.progress.size(), 3u);
        EXPECT_LT(owner.progress.front().first, 300000u);
        EXPECT_EQ(owner.progress.front().first, 128000u - 16);  // the count before the block that filled the chunk
        EXPECT_EQ(owner.progress.back(), std::make_pair(uint64_t{300000}, uint64_t{300000}));
    }
    {
        TestOwner owner;
        owner.abort_at_first_progress = true;
        const auto result = Encrypt(at::kAES, owner, key, RandomBytes(1000000, 3));
        EXPECT_EQ(result.code, Status::Code(kErrAborted));
        EXPECT_EQ(result.output.size(), 128000u);  // the first flush stays in the output
        EXPECT_EQ(owner.progress.back(), std::make_pair(uint64_t{1000000}, uint64_t{1000000}));
    }
    {
        TestOwner owner;
        owner.gone_at_first_progress = true;
        MemoryPort in(plain), out;
        auto cipher = Keyed(at::kAES, owner, key);
        EXPECT_EQ(cipher->EncryptBlob(in, out, false, &owner), Status::Code(kErrAborted));
        EXPECT_TRUE(cipher->EventControlGone());
        EXPECT_EQ(owner.progress.size(), 1u);  // nothing is fired on a released control
    }
    {
        TestOwner owner;
        owner.abort = true;  // seen at the first flush of a decryption too
        const auto result = Decrypt(at::kAES, owner, key, RandomBytes(400000, 4));
        EXPECT_EQ(result.code, Status::Code(kErrAborted));
    }
}

TEST(SymmetricPass, BlobFailuresEndThePass) {
    TestOwner owner;
    MemoryPort in(RandomBytes(1000, 5)), out;
    out.fail_writes = true;
    auto cipher = Keyed(at::kDES, owner, FromHex("0123456789abcdef"));
    EXPECT_EQ(cipher->EncryptBlob(in, out, false, &owner), Status::Failure(static_cast<int32_t>(0x80070070)));
}

// A reserve per block (RSA's) cannot feed back through CFB or OFB.
class ReservingCipher : public cryptDES {
public:
    ReservingCipher() { block_reserve_ = 3; }
};

TEST(SymmetricPass, FeedbackModesRefuseABlockReserve) {
    for (int32_t mode : {at::kModeCFB, at::kModeOFB}) {
        TestOwner owner;
        owner.mode = mode;
        MemoryPort in(RandomBytes(20, 6)), out, back;
        ReservingCipher cipher;
        cipher.SetOwner(&owner);
        cipher.SetKey(FromHex("0123456789abcdef").data(), 8);
        EXPECT_EQ(cipher.EncryptBlob(in, out, false, &owner), Status::Code(kErrTypeNotForMethod));
        MemoryPort encrypted(RandomBytes(16, 7));
        EXPECT_EQ(cipher.DecryptBlob(encrypted, back, &owner), Status::Code(kErrTypeNotForMethod));
    }
}

TEST(SymmetricPass, NoneWithCompressionWritesStandardStreams) {
    const Bytes plain = RandomBytes(200000, 9);
    Bytes text(300000);
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>("the quick brown fox "[i % 20]);
    for (const Bytes* input : {&plain, const_cast<const Bytes*>(&text)}) {
        TestOwner owner;
        owner.compression = at::kZlibCompression;
        const auto zlib_stream = Encrypt(at::kNone, owner, {}, *input);
        uLongf length = static_cast<uLongf>(input->size());
        Bytes restored(length);
        ASSERT_EQ(uncompress(restored.data(), &length, zlib_stream.output.data(), static_cast<uLong>(zlib_stream.output.size())), Z_OK);
        EXPECT_EQ(restored, *input);

        owner.compression = at::kGZipCompression;
        const auto gzip_file = Encrypt(at::kNone, owner, {}, *input);
        ASSERT_GE(gzip_file.output.size(), 18u);
        EXPECT_EQ(Bytes(gzip_file.output.begin(), gzip_file.output.begin() + 10), FromHex("1f8b0800000000000000"));
        z_stream stream{};
        ASSERT_EQ(inflateInit2(&stream, 31), Z_OK);  // zlib's own gzip reader checks CRC and length
        Bytes gunzipped(input->size() + 1);
        stream.next_in = const_cast<Bytef*>(gzip_file.output.data());
        stream.avail_in = static_cast<uInt>(gzip_file.output.size());
        stream.next_out = gunzipped.data();
        stream.avail_out = static_cast<uInt>(gunzipped.size());
        EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
        EXPECT_EQ(stream.total_out, input->size());
        inflateEnd(&stream);
        gunzipped.resize(input->size());
        EXPECT_EQ(gunzipped, *input);
    }
}

// A blob of `size` zero bytes made up as they are read, and one that only counts what it gets.
class ZeroSource : public BlobPort {
public:
    explicit ZeroSource(uint64_t size) : size_(size) {}
    Status Read(uint32_t count, Buffer& into) override {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, size_ - position_));
        largest_read = std::max(largest_read, count);
        memset(into.AppendSpace(n), 0, n);
        position_ += n;
        return Status::Ok();
    }
    Status Write(const uint8_t*, uint32_t count) override {
        written += count;
        largest_write = std::max(largest_write, count);
        return Status::Ok();
    }
    Status Seek(int64_t offset, int32_t origin, uint64_t* position) override {
        position_ = origin == kSeekEnd ? size_ : origin == kSeekStart ? static_cast<uint64_t>(offset) : position_;
        if (position) *position = position_;
        return Status::Ok();
    }
    Status SetSize(uint64_t) override { return Status::Ok(); }
    uint64_t written = 0;
    uint32_t largest_read = 0, largest_write = 0;

private:
    uint64_t size_, position_ = 0;
};

// Reads, writes and what zlib yields stay within the chunk sizes, also for 40 MB that compress
// to almost nothing (a decompression bomb in miniature).
TEST(SymmetricPass, MemoryStaysBoundedByTheChunkSizes) {
    TestOwner owner;
    owner.compression = at::kZlibCompression;
    ZeroSource zeros(40u << 20);
    MemoryPort compressed;
    auto encryptor = Keyed(at::kAES, owner, RandomBytes(16, 14));
    ASSERT_EQ(encryptor->EncryptBlob(zeros, compressed, false, &owner), Status::Ok());
    EXPECT_LE(zeros.largest_read, cryptSYMMETRIC::kChunk);
    EXPECT_LT(compressed.data.size(), 100000u);

    ZeroSource sink(0);
    compressed.position = 0;
    auto decryptor = Keyed(at::kAES, owner, RandomBytes(16, 14));
    ASSERT_EQ(decryptor->DecryptBlob(compressed, sink, &owner), Status::Ok());
    EXPECT_EQ(sink.written, 40u << 20);
    EXPECT_LT(sink.largest_write, 5u << 20);
}

// Damaged input: never a crash; a defined result or a decompression failure.
TEST(SymmetricPass, DamagedInputGivesAResultOrDecompressionFailure) {
    const Bytes key = RandomBytes(24, 10);
    for (int32_t type : {at::kDES, at::kTripleDES, at::kAES, at::kAES192, at::kAES256, at::kBlowfish, at::kCast, at::kRC2,
                         at::kRC4, at::kRC5, at::kUNIXcrypt, at::kUNIXcrypt3, at::kNone}) {
        for (int32_t compression : {at::kNoCompression, at::kZlibCompression, at::kGZipCompression}) {
            for (int32_t mode : {at::kModeECB, at::kModeCBC, at::kModeCFB, at::kModeOFB}) {
                TestOwner owner;
                owner.mode = mode, owner.compression = compression, owner.padding = at::kPadPKCS7;
                const Bytes plain = RandomBytes(5000, 11);
                const auto good = Encrypt(type, owner, key, plain);
                for (size_t cut : {size_t{0}, size_t{1}, good.output.size() / 2, good.output.size() - 1}) {
                    Bytes damaged(good.output.begin(), good.output.begin() + static_cast<long>(cut));
                    const auto result = Decrypt(type, owner, key, damaged, 333);
                    EXPECT_TRUE(result.code.IsOk() || result.code == Status::Code(kErrDecompressFailed)) << type << " " << result.code.Value();
                    // Cut inside the compressed data (a cut trailer is not noticed: the data is whole).
                    if (compression != at::kNoCompression && cut == good.output.size() / 2 && type != at::kUNIXcrypt3) {
                        EXPECT_EQ(result.code, Status::Code(kErrDecompressFailed)) << type << " " << cut;
                    }
                }
                for (int32_t padding : {at::kPadNull, at::kPadPKCS7}) {
                    owner.padding = padding;
                    const auto noise = Decrypt(type, owner, key, RandomBytes(70001, 12), 4097);
                    EXPECT_TRUE(noise.code.IsOk() || noise.code == Status::Code(kErrDecompressFailed));
                }
            }
        }
    }
    // A changed Adler-32 check value is a decompression failure.
    TestOwner owner;
    owner.compression = at::kZlibCompression;
    auto stream = Encrypt(at::kNone, owner, {}, RandomBytes(1000, 13)).output;
    stream.back() ^= 1;
    EXPECT_EQ(Decrypt(at::kNone, owner, {}, stream).code, Status::Code(kErrDecompressFailed));
}

}  // namespace
}  // namespace ombrix
