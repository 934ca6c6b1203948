// CStreamBlob: a blob over a caller's IStream. Position, size and content are the stream's;
// every member turns into calls of the stream's Read, Write, Seek and SetSize.
#pragma once

#include "com/ptr.h"

#include "text/transform.h"
#include "Ombrix_h.h"
#include "blobs/Blob.h"
#include "com/error_reporting.h"
#include "com/object.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "base/buffer.h"

namespace ombrix {

class CStreamBlob : public com::DispatchImpl<IStreamBlob>,
                    public com::ErrorReporting<CStreamBlob, com::TableErrors<&CLSID_Ombrix>, &IID_IStreamBlob, &IID_IBlob>,
                    public com::ObjectRoot,
                    public com::DispatchImpl<IBlob> {
public:
    static constexpr wchar_t kProgId[] = L"Kestrane.StreamBlob.2";

    COM_INTERFACE_MAP(CStreamBlob,
        COM_INTERFACE(IStreamBlob),
        COM_INTERFACE(ISupportErrorInfo),
        COM_INTERFACE_AS(IDispatch, IStreamBlob),
        COM_INTERFACE(IBlob))

    // IStreamBlob
    OMBRIX_BLOB_CONTENT_MEMBERS;
    STDMETHODIMP FromFile(BSTR filename) override;
    STDMETHODIMP ToFile(BSTR filename) override;
    STDMETHODIMP get_Stream(IStream** value) override;
    STDMETHODIMP putref_Stream(IStream* value) override;

    // IBlob
    OMBRIX_IBLOB_MEMBERS;

private:
    // The whole stream from its beginning into `content`: 0 or an error code.
    int32_t ReadWholeStream(Buffer& content);
    // Writes all bytes at the stream's position: the stream's result, or code 29 when the
    // stream accepts nothing.
    HRESULT WriteAll(const uint8_t* bytes, uint32_t count);
    // Truncates the stream and moves it to its beginning: the stream's result.
    HRESULT Truncate();
    HRESULT EncodeContent(cryptTRANSFORM& transform, BSTR* value);
    HRESULT DecodeContent(cryptTRANSFORM& transform, BSTR data);

    com::Ptr<IStream> stream_;
    cryptBASE64 base64_;
    cryptHEX hex_;
};

}  // namespace ombrix
