// Encrypt and Decrypt: the checks, key and algorithm set-up, the optimized header and the
// events around the streaming passes of the algorithm object.
#include <algorithm>
#include <cstring>
#include <memory>

#include "binding/fips.h"
#include "base/byte_order.h"
#include "control/Ombrix.h"
#include "control/blob_access.h"
#include "control/debug_log.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "crypto/algorithm_factory.h"
#include "crypto/algorithm_types.h"
#include "crypto/asymmetric.h"
#include "base/secure_bytes.h"

namespace ombrix {
namespace {

namespace at = algorithm_type;

constexpr uint32_t kMaxOptimizedHeader = 16;

// The optimized header's length for an algorithm object: its block size when that holds the
// 5 bytes of random byte and length, else 16. (No block is longer than 16 bytes.)
uint32_t OptimizedHeaderLength(const cryptSYMMETRIC& cipher) {
    const int32_t block = cipher.BlockSize();
    return cipher.BlockReserve() == 0 && block >= 5 && block <= 16 ? static_cast<uint32_t>(block) : kMaxOptimizedHeader;
}

// The header's length field is 32 bits: longer inputs could not be restored exactly.
constexpr uint64_t kMaxOptimizedLength = UINT32_MAX;

// Random byte, the length negated (big-endian), four zero bytes, a random 32-bit value, zeros;
// the first header-length bytes of that (8 or 16).
void BuildOptimizedHeader(uint8_t (&header)[kMaxOptimizedHeader], uint64_t plaintext_length) {
    memset(header, 0, sizeof header);
    header[0] = static_cast<uint8_t>(NonCryptoRandom());
    StoreBigEndian32(header + 1, static_cast<uint32_t>(0u - static_cast<uint32_t>(plaintext_length)));
    StoreBigEndian32(header + 9, NonCryptoRandom() * 65536u + NonCryptoRandom());
}

// A port that counts the bytes written through it.
class CountingBlobPort final : public BlobPort {
public:
    explicit CountingBlobPort(BlobPort& inner) : inner_(inner) {}
    Status Read(uint32_t count, Buffer& into) override { return inner_.Read(count, into); }
    Status Write(const uint8_t* bytes, uint32_t count) override {
        const Status result = inner_.Write(bytes, count);
        if (result.IsOk()) written_ += count;
        return result;
    }
    Status Seek(int64_t offset, int32_t origin, uint64_t* position) override { return inner_.Seek(offset, origin, position); }
    Status SetSize(uint64_t size) override { return inner_.SetSize(size); }
    void ExpectWrites(uint64_t additional) override { inner_.ExpectWrites(additional); }
    const uint8_t* ReadView(uint32_t count, uint32_t* available) override { return inner_.ReadView(count, available); }
    void ReadAdvance(uint32_t count) override { inner_.ReadAdvance(count); }
    uint8_t* WriteSpace(uint32_t count) override { return inner_.WriteSpace(count); }
    void WriteCommit(uint32_t count) override {
        inner_.WriteCommit(count);
        written_ += count;
    }
    void Unwrite(uint32_t count) override {
        inner_.Unwrite(count);
        written_ -= std::min<uint64_t>(count, written_);
    }
    uint64_t Written() const { return written_; }

private:
    BlobPort& inner_;
    uint64_t written_ = 0;
};

// Decrypt's SetSize calls hand the blob's HRESULT back as it is, without error information.
HRESULT PassedOn(Status status) { return status.IsOk() ? S_OK : static_cast<HRESULT>(status.Value()); }

}  // namespace

void COmbrix::DebugLogLine(const char* line) { DebugLogWrite(debug_file_.Get(), "%s", line); }

void COmbrix::Log(const char* line) {
    if (!debug_file_.Empty()) DebugLogWrite(debug_file_.Get(), "%s", line);
}

com::Ptr<IBlob> COmbrix::LoggedBlob(IUnknown* argument, const char* operation, const char* role, bool log_invalid) {
    com::Ptr<IBlob> blob = com::TryQuery<IBlob>(argument);
    if ((blob || log_invalid) && !debug_file_.Empty())
        DebugLogWrite(debug_file_.Get(), "%s::%s blob %s\r\n", operation, role, blob ? "ok" : "invalid");
    return blob;
}

bool COmbrix::FinishOperation() { return FireDone(); }

int32_t COmbrix::PrepareCipher(const char* operation, std::unique_ptr<cryptSYMMETRIC>& cipher) {
    char line[64];
    SecureBytes key;
    const uint32_t key_length = key_bytes_.Length();
    if (key_length && !key.Allocate(key_length)) return kErrOutOfMemory;
    if (key_length) memcpy(key.Data(), key_bytes_.Data(), key_length);
    if (key.Empty() && type_ != at::kNone) return kErrNoSecretKey;
    snprintf(line, sizeof line, "%s::Password ok\r\n", operation);
    Log(line);

    // A Type that FIPS mode excludes may have been chosen before the FIPS library was bound.
    if (FipsMode() && IsExcludedInFipsMode(type_)) return kErrFipsUnsupported;
    cipher = CreateSymmetric(type_);
    if (!cipher && type_ == at::kRSA) cipher = CreateAsymmetric(type_);
    if (!cipher) return kErrTypeNotForMethod;
    snprintf(line, sizeof line, "%s::Cipher ok\r\n", operation);
    Log(line);
    cipher->SetOwner(this);
    if (!key.Empty() && cipher->SetKey(key.Data(), key_length) == 0) {
        // The library may refuse the cipher itself (in FIPS mode: the provider lacks it).
        const int32_t refusal = cipher->KeyRefusal();
        cipher.reset();
        return refusal ? refusal : kErrNoSecretKey;
    }
    // An RSA key missing some of its values would encrypt every block to zeros.
    if (const auto* asymmetric = dynamic_cast<const cryptASYMMETRIC*>(cipher.get()); asymmetric && !asymmetric->KeyUsable()) {
        cipher.reset();
        return kErrNoSecretKey;
    }
    return kErrNone;
}

STDMETHODIMP COmbrix::Encrypt(IBlob* data, IBlob* out_blob) try {
    const CryptoUse crypto;
    if (const int32_t code = FipsLibraryCheck()) return Error(code);
    if (!data) return E_INVALIDARG;
    auto hold = HoldSelf();
    Log("Encrypt start\r\n");
    abort_request_ = 0;

    const com::Ptr<IBlob> input_blob = LoggedBlob(data, "Encrypt", "Input");
    if (!input_blob) return Error(kErrNotABlob);
    const com::Ptr<IBlob> output_blob = LoggedBlob(out_blob, "Encrypt", "Output", false);
    if (!output_blob) return Error(kErrNotABlob);

    std::unique_ptr<cryptSYMMETRIC> cipher;
    if (const int32_t code = PrepareCipher("Encrypt", cipher)) return Error(code);

    ComBlobPort input(input_blob.Get());
    ComBlobPort output(output_blob.Get());
    HRESULT result = S_OK;
    uint64_t start = 0;
    uint64_t end = 0;
    if (!output.SetSize(0).IsOk()) {
        Log("Encrypt::SetSize failed\r\n");
        result = Error(kErrWriteResultFailed);
    } else if (Log("Encrypt::SetSize ok\r\n"), !input.Seek(0, kSeekStart, &start).IsOk() || !input.Seek(0, kSeekEnd, &end).IsOk()) {
        Log("Encrypt::Seekf failed\r\n");
        result = Error(kErrWriteResultFailed);
    } else {
        Log("Encrypt::Seek ok\r\n");
        const uint64_t length = end > start ? end - start : 0;
        if (optimized_ && length > kMaxOptimizedLength) {
            result = Error(kErrInvalidPropertyValue);
        } else if (optimized_) {
            const uint32_t header_length = OptimizedHeaderLength(*cipher);
            uint8_t header[kMaxOptimizedHeader];
            BuildOptimizedHeader(header, length);
            // Encrypt and Decrypt report every failure through the table, a blob's HRESULT included.
            if (const Status written = output.Write(header, header_length); !written.IsOk()) {
                Log("Encrypt::Optimize - WriteBlobData failed\r\n");
                result = Error(written.Value());
            }
        }
        if (result == S_OK) {
            Log("Encrypt::Starting to encrypt\r\n");
            const Status code = cipher->EncryptBlob(input, output, false, this);
            if (ReleasedByClients()) return Error(code.Value());  // a progress handler released the control
            Log(code.IsOk() ? "Encrypt::Encrypt ok\r\n" : "Encrypt::Encrypt failed\r\n");
            if (!code.IsOk()) result = Error(code.Value());
        }
    }
    cipher.reset();
    if (!FinishOperation()) return E_FAIL;
    return result;
} COM_CATCH

STDMETHODIMP COmbrix::Decrypt(IBlob* data, IBlob* out_blob) try {
    const CryptoUse crypto;
    if (!data) return E_INVALIDARG;
    if (const int32_t code = FipsLibraryCheck()) return Error(code);
    auto hold = HoldSelf();
    Log("Decrypt start\r\n");
    abort_request_ = 0;

    const com::Ptr<IBlob> input_blob = LoggedBlob(data, "Decrypt", "Input");
    if (!input_blob) return Error(kErrNotABlob);
    if (!out_blob) return Error(kErrNotABlob);
    const com::Ptr<IBlob> output_blob = LoggedBlob(out_blob, "Decrypt", "Output");
    if (!output_blob) return Error(kErrNotABlob);

    std::unique_ptr<cryptSYMMETRIC> cipher;
    if (const int32_t code = PrepareCipher("Decrypt", cipher)) return Error(code);

    ComBlobPort input(input_blob.Get());
    ComBlobPort output_port(output_blob.Get());
    CountingBlobPort output(output_port);
    input.Seek(0, kSeekStart, nullptr);
    Log("Decrypt::Seek ok\r\n");
    HRESULT e = PassedOn(output.SetSize(0));
    Log(FAILED(e) ? "Decrypt::SetSize failed\r\n" : "Decrypt::SetSize ok\r\n");
    // Input that cannot be measured would be decrypted as if it were empty.
    uint64_t input_size = 0;
    if (SUCCEEDED(e) && !MeasureFromStart(input, &input_size)) e = Error(kErrReadBlobFailed);

    uint64_t plaintext_length = 0;
    if (SUCCEEDED(e) && optimized_) {
        Log("Decrypt::Entering optimized section\r\n");
        const uint32_t header_length = OptimizedHeaderLength(*cipher);
        Buffer header;
        // A blob may deliver fewer bytes per read than asked for.
        Status read;
        while (read.IsOk() && header.Length() < header_length) {
            const uint32_t before = header.Length();
            read = input.Read(header_length - before, header);
            if (header.Length() == before) break;
        }
        // The length field ends at byte 5: a shorter input carries no length.
        if (!read.IsOk() || header.Length() < 5) {
            e = Error(kErrDecryptFailed);
        } else {
            Log("Decrypt::GetOptimizedData ok\r\n");
            header.Consume(1);
            plaintext_length = 0u - header.GetInt();
            if (plaintext_length > input_size && compression_ == at::kNoCompression) e = Error(kErrDecryptFailed);
        }
    }
    if (!debug_file_.Empty()) DebugLogWrite(debug_file_.Get(), "Decrypt::Optimization pass, hr=%X\r\n", static_cast<unsigned>(SUCCEEDED(e) ? 0 : e));

    if (SUCCEEDED(e)) {
        Log("Decrypt::Starting to decrypt\r\n");
        const Status code = cipher->DecryptBlob(input, output, this);
        if (ReleasedByClients()) return Error(code.Value());  // a progress handler released the control
        if (!code.IsOk()) {
            e = Error(code.Value());
        } else {
            Log("Decrypt::Decrypt ok\r\n");
            if (optimized_) {
                // The header's length only cuts: less plaintext than it states means damaged data.
                if (output.Written() < plaintext_length) {
                    e = Error(kErrDecryptFailed);
                } else if (const Status cut = output.SetSize(plaintext_length); !cut.IsOk()) {
                    e = PassedOn(cut);
                }
            }
        }
    }
    if (FAILED(e)) Log("Decrypt::Decrypt failed\r\n");
    cipher.reset();
    if (!FinishOperation()) return E_FAIL;
    return e;
} COM_CATCH

}  // namespace ombrix
