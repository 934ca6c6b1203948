// CBlob64: the blob without storage that succeeds every IBlob and IBlob64 call without doing
// anything.
#pragma once

#include "Ombrix_h.h"
#include "blobs/Blob.h"
#include "com/object.h"

namespace ombrix {

class CBlob64 : public com::DispatchImpl<IBlob64>,
                public com::SupportErrorInfoImpl<&IID_IBlob64>,
                public com::ObjectRoot,
                public com::DispatchImpl<IBlob> {
public:
    COM_INTERFACE_MAP(CBlob64,
        COM_INTERFACE(IBlob64),
        COM_INTERFACE(ISupportErrorInfo),
        COM_INTERFACE_AS(IDispatch, IBlob64),
        COM_INTERFACE(IBlob))

    // IBlob64
    STDMETHODIMP Seek64(LONG offset_hi, LONG offset, LONG origin, LONG* new_position_hi, LONG* new_position) override;
    STDMETHODIMP SetSize64(LONG size_hi, LONG size_lo) override;

    // IBlob
    OMBRIX_IBLOB_MEMBERS;
};

}  // namespace ombrix
