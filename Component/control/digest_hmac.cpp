// Digest and HMAC: computations over the content of a blob that may run over several calls,
// keeping their object in the control until a call gives an output blob.
#include <algorithm>
#include <cstring>
#include <memory>

#include "control/Ombrix.h"
#include "control/blob_access.h"
#include "control/debug_log.h"
#include "base/error_codes.h"
#include "binding/fips.h"
#include "com/error_report.h"
#include "crypto/algorithm_types.h"
#include "crypto/digests.h"
#include "crypto/hmac.h"
#include "base/secure_bytes.h"

namespace ombrix {
namespace {

// A digest or HMAC step that the crypto library refused: in FIPS mode its provider lacks the
// algorithm; otherwise the library could not allocate.
int32_t LibraryRefusal() { return FipsMode() ? kErrFipsUnsupported : kErrOutOfMemory; }

constexpr uint32_t kDigestPiece = 1024;

}  // namespace

template <class UpdateFunction>
Status COmbrix::FeedDigest(IBlob* data, IBlob* out_blob, UpdateFunction update, uint64_t* size) {
    *size = 0;
    ComBlobPort input(data);
    uint64_t end = 0;
    if (!input.Seek(0, kSeekEnd, &end).IsOk() || !input.Seek(0, kSeekStart, nullptr).IsOk()) return Status::Code(kErrReadBlobFailed);
    *size = end;
    if (out_blob) {
        if (const Status cleared = ComBlobPort(out_blob).SetSize(0); !cleared.IsOk()) return cleared;
    }

    Buffer staged;
    uint64_t count = 0;
    int32_t result = kErrNone;
    while (count < end && result == kErrNone) {
        staged.Clear();
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(end - count, cryptSYMMETRIC::kChunk));
        // A blob in memory is read in place, unless events may run handlers that change it
        // while its bytes are being fed.
        uint32_t length = 0;
        const uint8_t* bytes = fire_events_ ? nullptr : input.ReadView(want, &length);
        if (bytes) {
            input.ReadAdvance(length);
        } else {
            if (!input.Read(want, staged).IsOk()) {
                result = kErrReadBlobFailed;
                break;
            }
            if (staged.Length() > want) staged.ConsumeEnd(staged.Length() - want);
            bytes = staged.Data();
            length = staged.Length();
        }
        if (length == 0) break;  // the blob ended before its measured size
        // Without events nothing can ask for an abort while the pieces are fed, so one update
        // takes them all; the result is the same.
        const uint32_t piece_length = fire_events_ || abort_request_ ? kDigestPiece : length;
        for (uint32_t done = 0; done < length;) {
            const uint32_t piece = std::min(length - done, piece_length);
            update(bytes + done, piece);
            done += piece;
            count += piece;
            if (fire_events_ && count < end && !FireProgress(count, end)) return Status::Code(kErrAborted);
            if (abort_request_) {
                result = kErrAborted;
                break;
            }
        }
    }
    SecureZero(staged.Data(), staged.Length());
    return Status::Code(result);
}

// Feeds a digest or HMAC computation and finishes it into the output blob. The running
// computation goes on every path but an abort: a result over data that could not be read, or not written, is no result.
template <class Computation, class Create>
HRESULT COmbrix::RunComputation(std::unique_ptr<Computation>& cached, IBlob* data, IBlob* out_blob, Create create) {
    if (!data) return E_INVALIDARG;
    const CryptoUse crypto;
    auto hold = HoldSelf();
    const com::Ptr<IBlob> input = com::TryQuery<IBlob>(data);
    const com::Ptr<IBlob> output_blob = com::TryQuery<IBlob>(out_blob);
    if (!input || (out_blob && !output_blob)) return Error(kErrNotABlob);
    if (!cached) cached = create();
    if (!cached) return Error(kErrTypeNotForMethod);
    IBlob* const output = output_blob.Get();
    Computation* computation = cached.get();
    computation->finish = 0;
    uint64_t size = 0;
    const Status code = FeedDigest(
        input.Get(), output, [computation](const uint8_t* bytes, uint32_t n) { computation->Update(bytes, n); }, &size);
    // Aborted, by request or by a progress handler that released the control: the computation
    // stays cached with what it was fed.
    if (code == Status::Code(kErrAborted)) return Error(kErrAborted);
    if (!code.IsOk()) {
        cached.reset();
        return Failure(code);
    }
    // A refused step (from the start, or while feeding) leaves no computation to go on with.
    if (computation->LibraryFailed()) {
        cached.reset();
        return Error(LibraryRefusal());
    }

    if (output) {
        computation->finish = 1;
        computation->Update(nullptr, 0);
        if (computation->LibraryFailed()) {
            cached.reset();
            return Error(LibraryRefusal());
        }
        const Status written =
            ComBlobPort(output).Write(computation->output, std::min<uint32_t>(computation->GetSize(), sizeof computation->output));
        cached.reset();
        if (!written.IsOk()) return Failure(written);
    }
    if (fire_events_) {
        if (!FireProgress(size, size)) return Error(kErrAborted);
        if (!FireDone()) return E_FAIL;
    }
    return S_OK;
}

STDMETHODIMP COmbrix::Digest(IBlob* data, IBlob* out_blob) try {
    return RunComputation(cached_digest_, data, out_blob, [this] { return CreateDigest(type_); });
} COM_CATCH

STDMETHODIMP COmbrix::HMAC(IBlob* data, IBlob* out_blob) try {
    return RunComputation(cached_hmac_, data, out_blob, [this] {
        std::unique_ptr<cryptHMAC> hmac = CreateHMAC(type_);
        // The key as it is now: a later SecretKey put does not change a running computation.
        if (hmac) hmac->Init(key_bytes_.Data(), key_bytes_.Length());
        return hmac;
    });
} COM_CATCH

}  // namespace ombrix
