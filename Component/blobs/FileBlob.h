// CFileBlob: a blob whose bytes live in a file. The blob's position is the file pointer. A new
// blob works on a fresh temporary file that is deleted with it. In read-only mode a window
// (StartPos..EndPos, both inclusive) limits every read, Seek and the whole-content members.
#pragma once

#include <cstdint>

#include "base/unique.h"
#include "text/transform.h"
#include "Ombrix_h.h"
#include "blobs/Blob.h"
#include "blobs/direct_access.h"
#include "com/holders.h"
#include "com/error_reporting.h"
#include "com/object.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "base/buffer.h"

namespace ombrix {

class CFileBlob : public com::DispatchImpl<IFileBlob>,
                  public com::ErrorReporting<CFileBlob, com::TableErrors<&CLSID_Ombrix>, &IID_IFileBlob, &IID_IBlob, &IID_IBlob64>,
                  public com::ObjectRoot,
                  public com::DispatchImpl<IBlob>,
                  public com::DispatchImpl<IBlob64>,
                  public IBlobDirectAccess {
public:
    static constexpr wchar_t kProgId[] = L"Kestrane.FileBlob.2";

    COM_INTERFACE_MAP(CFileBlob,
        COM_INTERFACE(IFileBlob),
        COM_INTERFACE(ISupportErrorInfo),
        COM_INTERFACE_AS(IDispatch, IFileBlob),
        COM_INTERFACE(IBlob),
        COM_INTERFACE(IBlob64),
        COM_INTERFACE(IBlobDirectAccess))

    CFileBlob();
    ~CFileBlob();

    // IFileBlob
    STDMETHODIMP get_Filename(BSTR* value) override;
    STDMETHODIMP put_Filename(BSTR value) override;
    STDMETHODIMP get_AutoDelete(VARIANT_BOOL* value) override;
    STDMETHODIMP put_AutoDelete(VARIANT_BOOL value) override;
    OMBRIX_BLOB_CONTENT_MEMBERS;
    STDMETHODIMP get_ReadOnly(VARIANT_BOOL* value) override;
    STDMETHODIMP put_ReadOnly(VARIANT_BOOL value) override;
    STDMETHODIMP FromStream(IStream* stream) override;
    STDMETHODIMP ToStream(IStream* stream) override;
    STDMETHODIMP get_StartPos(LONG* value) override;
    STDMETHODIMP put_StartPos(LONG value) override;
    STDMETHODIMP get_EndPos(LONG* value) override;
    STDMETHODIMP put_EndPos(LONG value) override;

    // IBlob
    OMBRIX_IBLOB_MEMBERS;

    // IBlob64
    STDMETHODIMP Seek64(LONG offset_hi, LONG offset, LONG origin, LONG* new_position_hi,
                        LONG* new_position) override;
    STDMETHODIMP SetSize64(LONG size_hi, LONG size_lo) override;

    // IBlobDirectAccess (module-internal): reads and writes without arrays
    STDMETHODIMP ReadInto(uint32_t count, Buffer* into) override;
    STDMETHODIMP WriteFrom(const uint8_t* bytes, uint32_t count) override;
    void STDMETHODCALLTYPE ReserveForWrites(uint32_t count) override;

private:
    bool Loaded() const { return file_.Ok(); }
    // Opens file_name_ in the mode the read-only flag asks for, falling back to read-only.
    bool OpenFile();
    // Creates a new empty temporary file and takes its name; false if none could be made.
    bool CreateTempName();
    void DeleteIfAutoDelete();
    // StartPos and EndPos put: only in read-only mode; the first sets the window for good.
    HRESULT PutWindowEdge(int64_t& edge, LONG value);

    // The window as a half-open byte range [begin, end); without a window [0, INT64_MAX).
    int64_t WindowBegin() const;
    int64_t WindowEnd() const;
    bool Position(int64_t* position) const;
    bool MoveTo(int64_t position) const;
    bool FileSize(int64_t* size) const;

    int32_t ReadableCount(int64_t* count) const;
    int32_t ReadInto(uint8_t* data, uint64_t count, uint64_t* filled) const;
    // Reads the data range (at most `limit` bytes of it) into `into`; the position ends after
    // the last byte read. 0 or an error code.
    int32_t ReadRange(Buffer& into, int64_t limit);
    // Writes the bytes at the position; 0 or code 29 for a failed or short write.
    int32_t WriteAll(const uint8_t* bytes, uint64_t count, uint32_t chunk) const;
    // The byte array's elements written at the position: S_OK or the failure to return.
    HRESULT WriteArray(SAFEARRAY* array, uint32_t chunk);
    // The checks every writing member makes: 0, code 2 (not loaded) or 30010 (read-only).
    int32_t WritableCode() const;
    HRESULT EncodeRange(cryptTRANSFORM& transform, BSTR* value);
    HRESULT DecodeAndWrite(cryptTRANSFORM& transform, BSTR data);

    com::Bstr file_name_;
    bool auto_delete_ = true;
    bool read_only_ = false;
    ombrix::FileHandle file_;
    cryptBASE64 base64_;
    cryptHEX hex_;
    int64_t window_start_ = 0;
    int64_t window_end_ = 0;
    bool window_set_ = false;
};

}  // namespace ombrix
