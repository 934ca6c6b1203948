// RAII holders for the Win32 handles Lumvane creates: GDI objects, cursors and icons, modules,
// registry keys, files and processes.
#pragma once

#include <windows.h>

#include <cstdio>
#include <utility>

namespace lumvane {

// One owned handle of type Handle, released by Release(handle) unless it is null.
template <typename Handle, typename Traits>
class Owned {
public:
    Owned() = default;
    explicit Owned(Handle handle) : handle_(handle) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : handle_(other.Detach()) {}
    Owned& operator=(Owned&& other) noexcept {
        Reset(other.Detach());
        return *this;
    }
    ~Owned() { Reset(); }

    Handle Get() const { return handle_; }
    Handle Detach() { return std::exchange(handle_, Traits::Null()); }
    void Reset(Handle handle = Traits::Null()) {
        if (handle_ != Traits::Null() && handle_ != handle) Traits::Release(handle_);
        handle_ = handle;
    }
    explicit operator bool() const { return handle_ != Traits::Null(); }

private:
    Handle handle_ = Traits::Null();
};

struct GdiObjectTraits {
    static HGDIOBJ Null() { return nullptr; }
    static void Release(HGDIOBJ object) { DeleteObject(object); }
};
struct CursorTraits {
    static HCURSOR Null() { return nullptr; }
    static void Release(HCURSOR cursor) { DestroyCursor(cursor); }
};
struct IconTraits {
    static HICON Null() { return nullptr; }
    static void Release(HICON icon) { DestroyIcon(icon); }
};
struct ModuleTraits {
    static HMODULE Null() { return nullptr; }
    static void Release(HMODULE module) { FreeLibrary(module); }
};
struct RegistryKeyTraits {
    static HKEY Null() { return nullptr; }
    static void Release(HKEY key) { RegCloseKey(key); }
};
struct KernelHandleTraits {
    static HANDLE Null() { return nullptr; }
    static void Release(HANDLE handle) { CloseHandle(handle); }
};
struct CFileTraits {
    static FILE* Null() { return nullptr; }
    static void Release(FILE* file) { fclose(file); }
};

using GdiObject = Owned<HGDIOBJ, GdiObjectTraits>;
using Cursor = Owned<HCURSOR, CursorTraits>;
using Icon = Owned<HICON, IconTraits>;
using Module = Owned<HMODULE, ModuleTraits>;
using RegistryKey = Owned<HKEY, RegistryKeyTraits>;
using KernelHandle = Owned<HANDLE, KernelHandleTraits>;
using CFile = Owned<FILE*, CFileTraits>;

// Selects an object into a device context for the holder's lifetime.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    ~SelectedObject() {
        if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace lumvane
