// placeholder (lead): text forms only, until the full intake lands
#include "control/key_intake.h"
namespace ombrix {
static void Text(const VARIANT& v, Buffer& out) {
    if (V_VT(&v) != VT_BSTR || !V_BSTR(&v)) return;
    for (UINT i = 0; i < SysStringLen(V_BSTR(&v)); ++i) { uint8_t b = static_cast<uint8_t>(V_BSTR(&v)[i]); out.Append(&b, 1); }
}
void DeriveSecretKey(const VARIANT& value, BSTR, Buffer& key_bytes, int32_t*) { Text(value, key_bytes); }
void DeriveInitVector(const VARIANT& value, BSTR, Buffer& iv_bytes) { Text(value, iv_bytes); }
}
