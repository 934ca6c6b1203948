#include "control/blob_access.h"

#include <algorithm>

#include "com/holders.h"
#include "base/error_codes.h"

namespace ombrix {
namespace {

// A blob's success codes (S_FALSE at the end of a stream, say) count as success.
Status Outcome(HRESULT hr) { return Status::Failure(static_cast<int32_t>(hr)); }

}  // namespace

ComBlobPort::ComBlobPort(IBlob* blob)
    : blob_(blob), blob64_(com::TryQuery<IBlob64>(blob)), direct_(com::TryQuery<IBlobDirectAccess>(blob, IID_IBlobDirectAccess)),
      storage_(com::TryQuery<IBlobStorageAccess>(blob, IID_IBlobStorageAccess)) {}

Status ComBlobPort::Read(uint32_t count, Buffer& into) {
    if (direct_) return Outcome(direct_->ReadInto(std::min<uint32_t>(count, INT32_MAX), &into));
    SAFEARRAY* raw = nullptr;
    const HRESULT hr = blob_->Read(static_cast<LONG>(std::min<uint32_t>(count, INT32_MAX)), &raw);
    com::SafeArray array(raw);
    if (FAILED(hr)) return Outcome(hr);
    if (!array.Get()) return Status::Ok();
    if (SafeArrayGetDim(array.Get()) != 1 || SafeArrayGetElemsize(array.Get()) != 1) return Outcome(DISP_E_TYPEMISMATCH);
    const uint32_t got = com::SafeArrayCount(array.Get());
    if (got == 0) return Status::Ok();
    com::SafeArrayAccess access(array.Get());
    if (!access.Ok()) return Outcome(E_FAIL);
    return into.Append(access.Data(), got) ? Status::Ok() : Status::Code(kErrOutOfMemory);
}

Status ComBlobPort::Write(const uint8_t* bytes, uint32_t count) {
    if (direct_) return Outcome(direct_->WriteFrom(bytes, count));
    SAFEARRAY* array = nullptr;
    if (FAILED(SafeArrayAllocDescriptorEx(VT_UI1, 1, &array))) return Status::Code(kErrOutOfMemory);
    // The descriptor borrows the caller's bytes: FADF_AUTO keeps SafeArrayDestroy from freeing
    // them and FADF_FIXEDSIZE keeps a blob from resizing them.
    array->fFeatures |= FADF_AUTO | FADF_FIXEDSIZE;
    array->cbElements = 1;
    array->rgsabound[0].cElements = count;
    array->rgsabound[0].lLbound = 1;
    array->pvData = const_cast<uint8_t*>(bytes);
    const HRESULT hr = blob_->Write(&array);
    if (array) {
        array->pvData = nullptr;
        SafeArrayDestroyDescriptor(array);
    }
    return Outcome(hr);
}

Status ComBlobPort::Seek(int64_t offset, int32_t origin, uint64_t* position) {
    if (position) *position = 0;
    if (blob64_) {
        LONG high = 0;
        LONG low = 0;
        const HRESULT hr = blob64_->Seek64(static_cast<LONG>(offset >> 32), static_cast<LONG>(static_cast<uint32_t>(offset)), origin,
                                           &high, &low);
        if (position && SUCCEEDED(hr)) *position = (uint64_t{static_cast<uint32_t>(high)} << 32) | static_cast<uint32_t>(low);
        return Outcome(hr);
    }
    LONG low = 0;
    const HRESULT hr = blob_->Seek(static_cast<LONG>(offset), origin, &low);
    // 32-bit positions read as unsigned: blobs up to 4 GiB.
    if (position && SUCCEEDED(hr)) *position = static_cast<uint32_t>(low);
    return Outcome(hr);
}

void ComBlobPort::ExpectWrites(uint64_t additional) {
    // Only a memory blob benefits, and only up to what one buffer can hold.
    if (direct_ && additional < (uint64_t{1} << 31)) direct_->ReserveForWrites(static_cast<uint32_t>(additional));
}

const uint8_t* ComBlobPort::ReadView(uint32_t count, uint32_t* available) {
    *available = 0;
    return storage_ ? storage_->ReadView(count, available) : nullptr;
}

void ComBlobPort::ReadAdvance(uint32_t count) {
    if (storage_) storage_->ReadAdvance(count);
}

uint8_t* ComBlobPort::WriteSpace(uint32_t count) { return storage_ ? storage_->WriteSpace(count) : nullptr; }

void ComBlobPort::WriteCommit(uint32_t count) {
    if (storage_) storage_->WriteCommit(count);
}

void ComBlobPort::Unwrite(uint32_t count) {
    if (storage_) storage_->Unwrite(count);
}

Status ComBlobPort::SetSize(uint64_t size) {
    if (blob64_) return Outcome(blob64_->SetSize64(static_cast<LONG>(size >> 32), static_cast<LONG>(static_cast<uint32_t>(size))));
    return Outcome(blob_->SetSize(static_cast<LONG>(static_cast<uint32_t>(size))));
}

}  // namespace ombrix
