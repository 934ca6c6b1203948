// Digest, HMAC, Sign and Verify: computations over the content of a blob. Digest and HMAC may
// run over several calls, keeping their object in the control until a call gives an output blob.
#include <cstring>
#include <memory>

#include "control/Ombrix.h"
#include "control/blob_access.h"
#include "control/debug_log.h"
#include "control/errors.h"
#include "crypto/algorithm_types.h"
#include "crypto/asymmetric.h"
#include "crypto/digests.h"
#include "crypto/hmac.h"
#include "base/secure_bytes.h"

namespace ombrix {
namespace {

constexpr uint32_t kDigestPiece = 1024;

// The whole content of a blob, read in chunks: 0, or 30009 when the blob cannot be measured or
// read, or is too large to be held in one buffer.
int32_t ReadWhole(BlobPort& blob, Buffer& into) {
    uint64_t size = 0;
    if (!MeasureFromStart(blob, &size) || size >= UINT32_MAX) return kErrReadBlobFailed;
    while (into.Length() < size) {
        const uint32_t before = into.Length();
        const uint64_t want = std::min<uint64_t>(size - before, cryptSYMMETRIC::kChunk);
        if (blob.Read(static_cast<uint32_t>(want), into) != 0) {
            SecureZero(into.Data(), into.Length());
            into.Clear();
            return kErrReadBlobFailed;
        }
        if (into.Length() == before) break;  // the blob ended early
    }
    if (into.Length() > size) into.ConsumeEnd(into.Length() - static_cast<uint32_t>(size));
    return kErrNone;
}

}  // namespace

template <class UpdateFunction>
int32_t COmbrix::FeedDigest(IBlob* data, IBlob* out_blob, UpdateFunction update, uint64_t* size, bool* gone) {
    *gone = false;
    *size = 0;
    ComBlobPort input(data);
    uint64_t end = 0;
    if (input.Seek(0, kSeekEnd, &end) != 0 || input.Seek(0, kSeekStart, nullptr) != 0) return kErrReadBlobFailed;
    *size = end;
    if (out_blob) {
        if (const int32_t code = ComBlobPort(out_blob).SetSize(0)) return code;
    }

    Buffer staged;
    uint64_t count = 0;
    int32_t result = kErrNone;
    while (count < end && result == kErrNone) {
        staged.Clear();
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(end - count, cryptSYMMETRIC::kChunk));
        if (input.Read(want, staged) != 0) {
            result = kErrReadBlobFailed;
            break;
        }
        if (staged.Length() == 0) break;  // the blob ended before its measured size
        if (staged.Length() > want) staged.ConsumeEnd(staged.Length() - want);
        while (staged.Length()) {
            const uint32_t piece = std::min(staged.Length(), kDigestPiece);
            update(staged.Data(), piece);
            staged.Consume(piece);
            count += piece;
            if (fire_events_ && count < end && !FireProgress(count, end)) {
                *gone = true;
                return kErrAborted;
            }
            if (abort_request_) {
                result = kErrAborted;
                break;
            }
        }
    }
    SecureZero(staged.Data(), staged.Length());
    return result;
}

// Finishes a digest or HMAC computation into `output`. The running computation goes on every
// path but an abort: a result over data that could not be read, or not written, is no result.
template <class Computation>
HRESULT COmbrix::FinishComputation(std::unique_ptr<Computation>& cached, IBlob* data, IBlob* output) {
    Computation* computation = cached.get();
    computation->finish = 0;
    bool gone = false;
    uint64_t size = 0;
    const int32_t code = FeedDigest(
        data, output, [computation](const uint8_t* bytes, uint32_t n) { computation->Update(bytes, n); }, &size, &gone);
    if (gone) return Error(kErrAborted);  // a progress handler released the control
    if (code == kErrAborted) return Error(code);  // the computation stays cached with what it was fed
    if (code) {
        cached.reset();
        return Failure(code);
    }

    if (output) {
        computation->finish = 1;
        computation->Update(nullptr, 0);
        const int32_t written =
            ComBlobPort(output).Write(computation->output, std::min<uint32_t>(computation->GetSize(), sizeof computation->output));
        cached.reset();
        if (written) return Failure(written);
    }
    if (fire_events_) {
        if (!FireProgress(size, size)) return Error(kErrAborted);
        if (!FireDone()) return E_FAIL;
    }
    return S_OK;
}

STDMETHODIMP COmbrix::Digest(IBlob* data, IBlob* out_blob) try {
    if (!data) return E_INVALIDARG;
    Microsoft::WRL::ComPtr<IBlob> input, output;
    if (!QueryBlob(data, input) || (out_blob && !QueryBlob(out_blob, output))) return Error(kErrNotABlob);
    if (!cached_digest_) {
        cached_digest_ = CreateDigest(type_);
        if (!cached_digest_) return Error(kErrTypeNotForMethod);
    }
    return FinishComputation(cached_digest_, input.Get(), output.Get());
} COM_CATCH

STDMETHODIMP COmbrix::HMAC(IBlob* data, IBlob* out_blob) try {
    if (!data) return E_INVALIDARG;
    Microsoft::WRL::ComPtr<IBlob> input, output;
    if (!QueryBlob(data, input) || (out_blob && !QueryBlob(out_blob, output))) return Error(kErrNotABlob);
    if (!cached_hmac_) {
        cached_hmac_ = CreateHMAC(type_);
        if (!cached_hmac_) return Error(kErrTypeNotForMethod);
        // The key as it is now: a later SecretKey put does not change a running computation.
        cached_hmac_->Init(key_bytes_.Data(), key_bytes_.Length());
    }
    return FinishComputation(cached_hmac_, input.Get(), output.Get());
} COM_CATCH

// Checks shared by Sign and Verify up to the asymmetric object: key present, Type applicable.
int32_t COmbrix::PrepareAsymmetric(const char* operation, bool key_now, std::unique_ptr<cryptASYMMETRIC>& object) {
    char line[64];
    if (key_bytes_.Length() == 0) return kErrNoSecretKey;
    snprintf(line, sizeof line, "%s::Password ok\r\n", operation);
    Log(line);
    object = CreateAsymmetric(type_);
    if (!object) return kErrTypeNotForMethod;
    snprintf(line, sizeof line, "%s::Cipher ok\r\n", operation);
    Log(line);
    object->SetOwner(this);
    if (key_now && object->SetKey(key_bytes_.Data(), key_bytes_.Length()) == 0) {
        object.reset();
        return kErrNoSecretKey;
    }
    return kErrNone;
}

STDMETHODIMP COmbrix::Sign(IBlob* data, IBlob* out_blob) try {
    if (!data) return E_INVALIDARG;
    if (const int32_t code = FipsLibraryCheck()) return Error(code);
    Log("Sign start\r\n");
    Microsoft::WRL::ComPtr<IBlob> input, output;
    if (!QueryBlob(data, input)) {
        Log("Sign::Input blob invalid\r\n");
        return Error(kErrNotABlob);
    }
    Log("Sign::Input blob ok\r\n");
    if (!QueryBlob(out_blob, output)) {
        Log("Sign::Output blob invalid\r\n");
        return Error(kErrNotABlob);
    }
    Log("Sign::Output blob ok\r\n");

    std::unique_ptr<cryptASYMMETRIC> signer;
    if (const int32_t code = PrepareAsymmetric("Sign", true, signer)) return Error(code);

    Log("Sign::Reading all data from the blob\r\n");
    ComBlobPort input_port(input.Get());
    Buffer bytes;
    // Data that cannot be measured, read or held would otherwise be signed as if it were empty.
    if (const int32_t code = ReadWhole(input_port, bytes)) return Error(code);
    if (!debug_file_.Empty()) DebugLogWrite(debug_file_.Get(), "Sign::Data read, blob size = %lu\r\n", static_cast<unsigned long>(bytes.Length()));

    Log("Sign::Preparing to sign\r\n");
    std::unique_ptr<Buffer> signature = signer->SignData(bytes.Data(), bytes.Length(), type_);
    SecureZero(bytes.Data(), bytes.Length());
    if (!debug_file_.Empty()) DebugLogWrite(debug_file_.Get(), "Sign::Finished, size=%d\r\n", signature ? static_cast<int>(signature->Length()) : 0);
    if (!signature) return Error(kErrSignFailed);

    Log("Sign::Writing data to blob\r\n");
    const int32_t written = signature->Length() ? ComBlobPort(output.Get()).Write(signature->Data(), signature->Length()) : 0;
    signer.reset();
    if (fire_events_ && !FireDone()) return E_FAIL;
    return written ? Failure(written) : S_OK;
} COM_CATCH

STDMETHODIMP COmbrix::Verify(IBlob* data, IBlob* signature, VARIANT_BOOL* valid) try {
    if (valid) *valid = VARIANT_FALSE;
    if (!data || !signature) return E_INVALIDARG;
    if (const int32_t code = FipsLibraryCheck()) return Error(code);
    Log("Verify start\r\n");
    Microsoft::WRL::ComPtr<IBlob> input, signature_blob;
    if (!QueryBlob(data, input)) {
        Log("Verify::Input blob invalid\r\n");
        return Error(kErrNotABlob);
    }
    Log("Verify::Input blob ok\r\n");
    if (!QueryBlob(signature, signature_blob)) {
        Log("Verify::Output blob invalid\r\n");
        return Error(kErrNotABlob);
    }
    Log("Verify::Output blob ok\r\n");

    std::unique_ptr<cryptASYMMETRIC> verifier;
    if (const int32_t code = PrepareAsymmetric("Verify", false, verifier)) return Error(code);

    Log("Verify::Reading signature data from the blob\r\n");
    ComBlobPort signature_port(signature_blob.Get());
    Buffer signature_bytes;
    const int32_t signature_read = ReadWhole(signature_port, signature_bytes);
    if (!debug_file_.Empty()) DebugLogWrite(debug_file_.Get(), "Verify::Signature read, len = %lu\r\n", static_cast<unsigned long>(signature_bytes.Length()));
    if (signature_read) return Error(signature_read);

    Log("Verify::Reading data from the blob\r\n");
    ComBlobPort input_port(input.Get());
    Buffer bytes;
    const int32_t data_read = ReadWhole(input_port, bytes);
    if (!debug_file_.Empty()) DebugLogWrite(debug_file_.Get(), "Verify::Data read, len = %lu\r\n", static_cast<unsigned long>(bytes.Length()));
    if (data_read) return Error(data_read);

    if (verifier->SetKey(key_bytes_.Data(), key_bytes_.Length()) == 0) return Error(kErrNoSecretKey);
    Log("Verify::verify start\r\n");
    const int32_t ok = verifier->VerifyData(bytes.Data(), bytes.Length(), signature_bytes.Data(), signature_bytes.Length(), type_);
    verifier.reset();
    if (!debug_file_.Empty()) DebugLogWrite(debug_file_.Get(), "Verify::verify done, ok=%d\r\n", static_cast<int>(ok));
    if (fire_events_ && !FireDone()) return E_FAIL;
    if (valid) *valid = ok ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
} COM_CATCH

}  // namespace ombrix
