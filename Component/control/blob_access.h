// The engine's view of a COM blob: IBlob, with IBlob64 for positions and sizes where the blob
// offers it.
#pragma once

#include "com/ptr.h"

#include "blobs/direct_access.h"
#include "Ombrix_h.h"
#include "crypto/blob_port.h"

namespace ombrix {

class ComBlobPort final : public BlobPort {
public:
    // Holds its own references; IBlob64 and the module's direct access are asked for on `blob`
    // (which must not be null).
    explicit ComBlobPort(IBlob* blob);

    Status Read(uint32_t count, Buffer& into) override;
    // Hands the bytes to the blob in an array that borrows them: no copy is made.
    Status Write(const uint8_t* bytes, uint32_t count) override;
    Status Seek(int64_t offset, int32_t origin, uint64_t* position) override;
    Status SetSize(uint64_t size) override;
    void ExpectWrites(uint64_t additional) override;
    const uint8_t* ReadView(uint32_t count, uint32_t* available) override;
    void ReadAdvance(uint32_t count) override;
    uint8_t* WriteSpace(uint32_t count) override;
    void WriteCommit(uint32_t count) override;
    void Unwrite(uint32_t count) override;

private:
    com::Ptr<IBlob> blob_;
    com::Ptr<IBlob64> blob64_;
    com::Ptr<IBlobDirectAccess> direct_;    // the module's own memory and file blobs
    com::Ptr<IBlobStorageAccess> storage_;  // the module's own memory blob
};

}  // namespace ombrix
