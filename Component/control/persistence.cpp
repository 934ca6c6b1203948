#include "control/persistence.h"

#include <oleauto.h>

#include <cstring>

#include "com/holders.h"
#include "control/Ombrix.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "binding/fips.h"

namespace ombrix {
namespace {

// The bytes of one stream, built in memory and written in one call.
class StreamWriter {
public:
    void Word(uint32_t value) { Append(&value, sizeof value); }
    void Long(int32_t value) {
        const VARTYPE type = VT_I4;
        Append(&type, sizeof type);
        Append(&value, sizeof value);
    }
    void Bool(bool value) {
        const VARTYPE type = VT_BOOL;
        const VARIANT_BOOL flag = com::ToVariantBool(value);
        Append(&type, sizeof type);
        Append(&flag, sizeof flag);
    }
    const uint8_t* Data() const { return bytes_; }
    ULONG Size() const { return size_; }

private:
    void Append(const void* data, ULONG count) {
        memcpy(bytes_ + size_, data, count);
        size_ += count;
    }
    uint8_t bytes_[kPropertyStreamSize] = {};
    ULONG size_ = 0;
};

HRESULT ReadExactly(IStream* stream, void* into, ULONG count) {
    ULONG got = 0;
    const HRESULT hr = stream->Read(into, count, &got);
    if (FAILED(hr)) return hr;
    return got == count ? S_OK : STG_E_READFAULT;
}

HRESULT ReadType(IStream* stream, VARTYPE expected) {
    VARTYPE type = VT_EMPTY;
    RETURN_IF_FAILED(ReadExactly(stream, &type, sizeof type));
    return type == expected ? S_OK : DISP_E_TYPEMISMATCH;
}

HRESULT ReadLong(IStream* stream, int32_t* value) {
    RETURN_IF_FAILED(ReadType(stream, VT_I4));
    return ReadExactly(stream, value, sizeof *value);
}

HRESULT ReadBool(IStream* stream, bool* value) {
    RETURN_IF_FAILED(ReadType(stream, VT_BOOL));
    VARIANT_BOOL flag = VARIANT_FALSE;
    RETURN_IF_FAILED(ReadExactly(stream, &flag, sizeof flag));
    *value = flag != VARIANT_FALSE;
    return S_OK;
}

}  // namespace

HRESULT WritePropertyStream(IStream* stream, const PersistedProperties& properties) {
    if (!stream) return E_POINTER;
    StreamWriter writer;
    writer.Word(kPropertyStreamVersion);
    writer.Long(properties.type);
    writer.Bool(properties.optimized);
    writer.Bool(properties.fire_events);
    writer.Long(properties.mode);
    writer.Long(properties.padding);
    writer.Long(properties.compression);
    ULONG written = 0;
    RETURN_IF_FAILED(stream->Write(writer.Data(), writer.Size(), &written));
    return written == writer.Size() ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT ReadPropertyStream(IStream* stream, PersistedProperties* properties) {
    if (!stream || !properties) return E_POINTER;
    uint32_t version = 0;
    RETURN_IF_FAILED(ReadExactly(stream, &version, sizeof version));
    if (version > kPropertyStreamVersion) return E_FAIL;  // written by a newer version
    PersistedProperties read;
    RETURN_IF_FAILED(ReadLong(stream, &read.type));
    RETURN_IF_FAILED(ReadBool(stream, &read.optimized));
    RETURN_IF_FAILED(ReadBool(stream, &read.fire_events));
    RETURN_IF_FAILED(ReadLong(stream, &read.mode));
    RETURN_IF_FAILED(ReadLong(stream, &read.padding));
    RETURN_IF_FAILED(ReadLong(stream, &read.compression));
    *properties = read;
    return S_OK;
}

// The control's side: the values are taken with the property gets and restored with the puts.

PersistedProperties COmbrix::PersistedState() const {
    return {.type = type_, .optimized = optimized_ != 0, .fire_events = fire_events_ != 0, .mode = mode_,
            .padding = padding_, .compression = compression_};
}

// All six are checked before the first put (type as its put checks it), so that a refused
// stream changes nothing; should a put fail all the same, the earlier values are put back.
HRESULT COmbrix::ApplyPersistedState(const PersistedProperties& state) {
    if (!IsSupportedType(state.type)) return Error(kErrTypeNotSupported);
    if (FipsMode() && IsExcludedInFipsMode(state.type)) return Error(kErrFipsUnsupported);
    const PersistedProperties previous = PersistedState();
    HRESULT hr = put_type(static_cast<CryptoTypes>(state.type));
    if (SUCCEEDED(hr)) hr = put_Optimized(com::ToVariantBool(state.optimized));
    if (SUCCEEDED(hr)) hr = put_FireEvents(com::ToVariantBool(state.fire_events));
    if (SUCCEEDED(hr)) hr = put_Mode(static_cast<CryptoModes>(state.mode));
    if (SUCCEEDED(hr)) hr = put_Padding(static_cast<CryptoPadding>(state.padding));
    if (SUCCEEDED(hr)) hr = put_Compression(static_cast<CryptoCompression>(state.compression));
    if (FAILED(hr)) {
        if (type_ != previous.type) put_type(static_cast<CryptoTypes>(previous.type));
        optimized_ = previous.optimized;
        fire_events_ = previous.fire_events;
        mode_ = previous.mode;
        padding_ = previous.padding;
        compression_ = previous.compression;
    }
    return hr;
}

}  // namespace ombrix
