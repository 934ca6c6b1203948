// CBlob: the blob without storage that fails every IBlob call.
#pragma once

#include "Ombrix_h.h"
#include "com/object.h"

// The IBlob members every blob class declares.
#define OMBRIX_IBLOB_MEMBERS                                                                      \
    STDMETHODIMP Read(LONG read_count, SAFEARRAY** data_array) override;                          \
    STDMETHODIMP Write(SAFEARRAY** data_array) override;                                          \
    STDMETHODIMP Seek(LONG offset, LONG origin, LONG* new_position) override;                     \
    STDMETHODIMP SetSize(LONG size) override

// The content members the memory, stream and file blobs share.
#define OMBRIX_BLOB_CONTENT_MEMBERS                                                               \
    STDMETHODIMP get_Text(BSTR* value) override;                                                  \
    STDMETHODIMP put_Text(BSTR value) override;                                                   \
    STDMETHODIMP ToBase64(BSTR* value) override;                                                  \
    STDMETHODIMP ToHex(BSTR* value) override;                                                     \
    STDMETHODIMP FromBase64(BSTR data) override;                                                  \
    STDMETHODIMP FromHex(BSTR data) override;                                                     \
    STDMETHODIMP ToArray(SAFEARRAY** value) override;                                             \
    STDMETHODIMP FromArray(SAFEARRAY** data_array) override;                                      \
    STDMETHODIMP ToInt(LONG* value) override

namespace ombrix {

class CBlob : public com::DispatchImpl<IBlob>,
              public com::SupportErrorInfoImpl<&IID_IBlob>,
              public com::ObjectRoot {
public:
    COM_INTERFACE_MAP(CBlob,
        COM_INTERFACE_AS(IDispatch, IBlob),
        COM_INTERFACE(IBlob),
        COM_INTERFACE(ISupportErrorInfo))

    OMBRIX_IBLOB_MEMBERS;
};

}  // namespace ombrix
