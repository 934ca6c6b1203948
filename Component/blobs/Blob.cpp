#include "blobs/Blob.h"

namespace ombrix {

// CBlob: every call fails at once, leaves its parameters alone and sets no error information.
STDMETHODIMP CBlob::Read(LONG, SAFEARRAY**) try { return E_FAIL; } COM_CATCH
STDMETHODIMP CBlob::Write(SAFEARRAY**) try { return E_FAIL; } COM_CATCH
STDMETHODIMP CBlob::Seek(LONG, LONG, LONG*) try { return E_FAIL; } COM_CATCH
STDMETHODIMP CBlob::SetSize(LONG) try { return E_FAIL; } COM_CATCH

}  // namespace ombrix
