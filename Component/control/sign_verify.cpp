// Sign and Verify: an asymmetric signature over the whole content of a blob.
#include <algorithm>
#include <memory>

#include "binding/fips.h"
#include "control/Ombrix.h"
#include "control/blob_access.h"
#include "control/debug_log.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "crypto/algorithm_types.h"
#include "crypto/asymmetric.h"
#include "base/secure_bytes.h"

namespace ombrix {
namespace {

// The whole content of a blob, read in chunks: 0, or 30009 when the blob cannot be measured or
// read, or is too large to be held in one buffer.
int32_t ReadWhole(BlobPort& blob, Buffer& into) {
    uint64_t size = 0;
    if (!MeasureFromStart(blob, &size) || size >= UINT32_MAX) return kErrReadBlobFailed;
    while (into.Length() < size) {
        const uint32_t before = into.Length();
        const uint64_t want = std::min<uint64_t>(size - before, cryptSYMMETRIC::kChunk);
        if (!blob.Read(static_cast<uint32_t>(want), into).IsOk()) {
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
    const CryptoUse crypto;
    if (!data) return E_INVALIDARG;
    if (const int32_t code = FipsLibraryCheck()) return Error(code);
    auto hold = HoldSelf();
    Log("Sign start\r\n");
    const com::Ptr<IBlob> input = LoggedBlob(data, "Sign", "Input");
    if (!input) return Error(kErrNotABlob);
    const com::Ptr<IBlob> output = LoggedBlob(out_blob, "Sign", "Output");
    if (!output) return Error(kErrNotABlob);

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
    const Status written = signature->Length() ? ComBlobPort(output.Get()).Write(signature->Data(), signature->Length()) : Status::Ok();
    signer.reset();
    if (fire_events_ && !FireDone()) return E_FAIL;
    return written.IsOk() ? S_OK : Failure(written);
} COM_CATCH

STDMETHODIMP COmbrix::Verify(IBlob* data, IBlob* signature, VARIANT_BOOL* valid) try {
    const CryptoUse crypto;
    if (valid) *valid = VARIANT_FALSE;
    if (!data || !signature) return E_INVALIDARG;
    if (const int32_t code = FipsLibraryCheck()) return Error(code);
    auto hold = HoldSelf();
    Log("Verify start\r\n");
    const com::Ptr<IBlob> input = LoggedBlob(data, "Verify", "Input");
    if (!input) return Error(kErrNotABlob);
    const com::Ptr<IBlob> signature_blob = LoggedBlob(signature, "Verify", "Output");
    if (!signature_blob) return Error(kErrNotABlob);

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
