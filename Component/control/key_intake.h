// Key and IV intake: the bytes that the SecretKey and InitVector values stand for.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>

#include "base/buffer.h"

namespace ombrix {

// Appends to key_bytes the bytes derived from a SecretKey value; sets *certificate_handle from a
// certificate object's Handle when its PrivateKey get fails. Logs the form's line to the debug
// log file `debug_file` when it is not empty.
void DeriveSecretKey(const VARIANT& value, BSTR debug_file, Buffer& key_bytes, int32_t* certificate_handle);
// Appends to iv_bytes the bytes derived from an InitVector value (logging likewise).
void DeriveInitVector(const VARIANT& value, BSTR debug_file, Buffer& iv_bytes);

// The object a value holds (VT_DISPATCH or VT_UNKNOWN, by value or by reference, the reference
// followed); null for any other value. *is_object tells whether the value had an object form.
IUnknown* ObjectInValue(const VARIANT& value, bool* is_object);

}  // namespace ombrix
