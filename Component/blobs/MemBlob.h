// CMemBlob: a blob whose bytes live in memory, in one byte buffer whose read offset is the
// blob's position and whose end offset is its end.
#pragma once

#include "text/transform.h"
#include "Ombrix_h.h"
#include "blobs/Blob.h"
#include "blobs/direct_access.h"
#include "com/error_reporting.h"
#include "com/object.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "base/buffer.h"

namespace ombrix {

class CMemBlob : public com::DispatchImpl<IMemBlob>,
                 public com::ErrorReporting<CMemBlob, com::TableErrors<&CLSID_Ombrix>, &IID_IMemBlob, &IID_IBlob>,
                 public com::ObjectRoot,
                 public com::DispatchImpl<IBlob>,
                 public IBlobDirectAccess,
                 public IBlobStorageAccess {
public:
    static constexpr wchar_t kProgId[] = L"Kestrane.MemBlob.2";

    COM_INTERFACE_MAP(CMemBlob,
        COM_INTERFACE(IMemBlob),
        COM_INTERFACE(ISupportErrorInfo),
        COM_INTERFACE_AS(IDispatch, IMemBlob),
        COM_INTERFACE(IBlob),
        COM_INTERFACE(IBlobDirectAccess),
        COM_INTERFACE(IBlobStorageAccess))

    // IBlobDirectAccess (module-internal)
    STDMETHODIMP ReadInto(uint32_t count, Buffer* into) override;
    STDMETHODIMP WriteFrom(const uint8_t* bytes, uint32_t count) override;
    void STDMETHODCALLTYPE ReserveForWrites(uint32_t count) override;
    // IBlobStorageAccess (module-internal)
    const uint8_t* STDMETHODCALLTYPE ReadView(uint32_t count, uint32_t* available) override;
    void STDMETHODCALLTYPE ReadAdvance(uint32_t count) override;
    uint8_t* STDMETHODCALLTYPE WriteSpace(uint32_t count) override;
    void STDMETHODCALLTYPE WriteCommit(uint32_t count) override;
    void STDMETHODCALLTYPE Unwrite(uint32_t count) override;

    // IMemBlob
    OMBRIX_BLOB_CONTENT_MEMBERS;
    STDMETHODIMP FromFile(BSTR filename) override;
    STDMETHODIMP ToFile(BSTR filename) override;
    STDMETHODIMP FromStream(IStream* stream) override;
    STDMETHODIMP ToStream(IStream* stream) override;
    STDMETHODIMP FromFilePart(BSTR filename, LONG start, LONG length) override;

    // IBlob
    OMBRIX_IBLOB_MEMBERS;

private:
    HRESULT EncodeContent(cryptTRANSFORM& transform, BSTR* value);
    HRESULT DecodeContent(cryptTRANSFORM& transform, BSTR data);
    HRESULT ImportFile(BSTR filename, LONG start, LONG length, bool whole_file);

    Buffer storage_;
    cryptBASE64 base64_;
    cryptHEX hex_;
};

}  // namespace ombrix
