// Blob access inside the module without SAFEARRAYs: the passes read and write the memory blob's
// storage directly instead of copying every chunk through an array. The interface is private to
// the module (not in the type library, no proxy), so a blob in another apartment is reached
// through IBlob as usual.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstdint>

#include "base/buffer.h"

namespace ombrix {

// {6C1E9A52-3B7D-4E0F-9A61-0D2F8B4C7E15}
inline constexpr IID IID_IBlobDirectAccess = {0x6c1e9a52, 0x3b7d, 0x4e0f, {0x9a, 0x61, 0x0d, 0x2f, 0x8b, 0x4c, 0x7e, 0x15}};

struct IBlobDirectAccess : public IUnknown {
    // As IBlob::Read, appending up to `count` bytes to `into`.
    virtual HRESULT STDMETHODCALLTYPE ReadInto(uint32_t count, Buffer* into) = 0;
    // As IBlob::Write with an array holding these bytes.
    virtual HRESULT STDMETHODCALLTYPE WriteFrom(const uint8_t* bytes, uint32_t count) = 0;
    // Makes room for `count` more bytes at the end; a hint only, failure is not an error.
    virtual void STDMETHODCALLTYPE ReserveForWrites(uint32_t count) = 0;
};

// {6C1E9A53-3B7D-4E0F-9A61-0D2F8B4C7E15}
inline constexpr IID IID_IBlobStorageAccess = {0x6c1e9a53, 0x3b7d, 0x4e0f, {0x9a, 0x61, 0x0d, 0x2f, 0x8b, 0x4c, 0x7e, 0x15}};

// The storage itself, lent by a blob whose bytes live in memory, for passes that work in place
// (the engine's ReadView, ReadAdvance, WriteSpace, WriteCommit and Unwrite).
struct IBlobStorageAccess : public IUnknown {
    virtual const uint8_t* STDMETHODCALLTYPE ReadView(uint32_t count, uint32_t* available) = 0;
    virtual void STDMETHODCALLTYPE ReadAdvance(uint32_t count) = 0;
    virtual uint8_t* STDMETHODCALLTYPE WriteSpace(uint32_t count) = 0;
    virtual void STDMETHODCALLTYPE WriteCommit(uint32_t count) = 0;
    virtual void STDMETHODCALLTYPE Unwrite(uint32_t count) = 0;
};

}  // namespace ombrix
