#include "blobs/Blob64.h"

namespace ombrix {

// CBlob64: every call succeeds at once and writes no out-parameter.
STDMETHODIMP CBlob64::Seek64(LONG, LONG, LONG, LONG*, LONG*) try { return S_OK; } COM_CATCH
STDMETHODIMP CBlob64::SetSize64(LONG, LONG) try { return S_OK; } COM_CATCH
STDMETHODIMP CBlob64::Read(LONG, SAFEARRAY**) try { return S_OK; } COM_CATCH
STDMETHODIMP CBlob64::Write(SAFEARRAY**) try { return S_OK; } COM_CATCH
STDMETHODIMP CBlob64::Seek(LONG, LONG, LONG*) try { return S_OK; } COM_CATCH
STDMETHODIMP CBlob64::SetSize(LONG) try { return S_OK; } COM_CATCH

}  // namespace ombrix
