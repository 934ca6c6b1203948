// One owned handle: Unique<Handle, Traits> closes it with Traits::Close unless it is the
// traits' null value (or, when the traits say which handles are valid, unless it is invalid).
//
//   struct Traits {
//       static Handle Null();
//       static void Close(Handle handle);
//       static bool Valid(Handle handle);  // optional; default: handle != Null()
//   };
#pragma once

#include <utility>

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#endif

namespace ombrix {

template <typename Handle, typename Traits>
class Unique {
public:
    Unique() = default;
    explicit Unique(Handle handle) : handle_(handle) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : handle_(other.Detach()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) Reset(other.Detach());
        return *this;
    }
    ~Unique() { Reset(); }

    Handle Get() const { return handle_; }
    Handle Detach() { return std::exchange(handle_, Traits::Null()); }
    // Closes the held handle (if any) and takes `handle` instead.
    void Reset(Handle handle = Traits::Null()) {
        if (Valid(handle_) && handle_ != handle) Traits::Close(handle_);
        handle_ = handle;
    }
    // Closes the held handle and gives the slot to a function that returns a new one there.
    Handle* Put() {
        Reset();
        return &handle_;
    }
    bool Ok() const { return Valid(handle_); }
    explicit operator bool() const { return Ok(); }

private:
    static bool Valid(Handle handle) {
        if constexpr (requires { Traits::Valid(handle); }) {
            return Traits::Valid(handle);
        } else {
            return handle != Traits::Null();
        }
    }

    Handle handle_ = Traits::Null();
};

#ifdef _WIN32
// The Windows handles the component owns. Most are null when absent and go with one call.
template <typename Handle, auto CloseFunction>
struct NullOrClose {
    static Handle Null() { return nullptr; }
    static void Close(Handle handle) { CloseFunction(handle); }
};
// A metafile device context still recording: closing it discards the recording.
struct MetafileRecordingTraits {
    static HDC Null() { return nullptr; }
    static void Close(HDC dc) { DeleteMetaFile(CloseMetaFile(dc)); }
};
// File handles: CreateFile fails with INVALID_HANDLE_VALUE; null is no file either.
struct FileHandleTraits {
    static HANDLE Null() { return INVALID_HANDLE_VALUE; }
    static bool Valid(HANDLE handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};

template <typename Handle>
using GdiObject = Unique<Handle, NullOrClose<Handle, &DeleteObject>>;
using MetafileHandle = Unique<HMETAFILE, NullOrClose<HMETAFILE, &DeleteMetaFile>>;
using MetafileRecording = Unique<HDC, MetafileRecordingTraits>;
using RegistryKey = Unique<HKEY, NullOrClose<HKEY, &RegCloseKey>>;
using FileHandle = Unique<HANDLE, FileHandleTraits>;
using GlobalMemory = Unique<HGLOBAL, NullOrClose<HGLOBAL, &GlobalFree>>;
using CertContext = Unique<PCCERT_CONTEXT, NullOrClose<PCCERT_CONTEXT, &CertFreeCertificateContext>>;

// A memory device context made with CreateCompatibleDC.
class MemoryDc : public Unique<HDC, NullOrClose<HDC, &DeleteDC>> {
public:
    explicit MemoryDc(HDC compatible_with) : Unique(CreateCompatibleDC(compatible_with)) {}
};

#endif  // _WIN32

}  // namespace ombrix
