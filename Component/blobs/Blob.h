// CBlob: the blob without storage that fails every IBlob call.
#pragma once

#include "Ombrix_h.h"
#include "com/object.h"

namespace ombrix {

class CBlob : public com::DispatchImpl<IBlob>,
              public com::SupportErrorInfoImpl<&IID_IBlob>,
              public com::ObjectRoot {
public:
    COM_INTERFACE_MAP(CBlob,
        COM_INTERFACE_AS(IDispatch, IBlob),
        COM_INTERFACE(IBlob),
        COM_INTERFACE(ISupportErrorInfo))

    STDMETHODIMP Read(LONG read_count, SAFEARRAY** data_array) override;
    STDMETHODIMP Write(SAFEARRAY** data_array) override;
    STDMETHODIMP Seek(LONG offset, LONG origin, LONG* new_position) override;
    STDMETHODIMP SetSize(LONG size) override;
};

}  // namespace ombrix
