#include "blobs/NullBlobs.h"

namespace ombrix {

// CBlob: every call fails at once, leaves its parameters alone and sets no error information.
STDMETHODIMP CBlob::Read(LONG, SAFEARRAY**) { return E_FAIL; }
STDMETHODIMP CBlob::Write(SAFEARRAY**) { return E_FAIL; }
STDMETHODIMP CBlob::Seek(LONG, LONG, LONG*) { return E_FAIL; }
STDMETHODIMP CBlob::SetSize(LONG) { return E_FAIL; }

// CBlob64: every call succeeds at once and writes no out-parameter.
STDMETHODIMP CBlob64::Seek64(LONG, LONG, LONG, LONG*, LONG*) { return S_OK; }
STDMETHODIMP CBlob64::SetSize64(LONG, LONG) { return S_OK; }
STDMETHODIMP CBlob64::Read(LONG, SAFEARRAY**) { return S_OK; }
STDMETHODIMP CBlob64::Write(SAFEARRAY**) { return S_OK; }
STDMETHODIMP CBlob64::Seek(LONG, LONG, LONG*) { return S_OK; }
STDMETHODIMP CBlob64::SetSize(LONG) { return S_OK; }

}  // namespace ombrix
