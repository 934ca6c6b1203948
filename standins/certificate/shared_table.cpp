#include <windows.h>

#include <mutex>
#include <string>

#include "certificate.h"

namespace certstandin {
namespace {

// {A80E4BE2-8434-4AFB-8AEC-B4A95812A0FF}: the control's class, whose server is Ombrix.dll.
constexpr wchar_t kOmbrixServerKey[] = L"CLSID\\{A80E4BE2-8434-4AFB-8AEC-B4A95812A0FF}\\InprocServer32";

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// Ombrix.dll as loaded in the process, or loaded (for good) from its registered path.
HMODULE OmbrixModule() {
    if (HMODULE loaded = GetModuleHandleW(L"Ombrix.dll")) return loaded;
    wchar_t path[MAX_PATH * 2];
    LONG size = sizeof path;
    if (RegQueryValueW(HKEY_CLASSES_ROOT, kOmbrixServerKey, path, &size) != ERROR_SUCCESS) return nullptr;
    path[MAX_PATH * 2 - 1] = L'\0';
    HMODULE module = LoadLibraryW(path);
    // The table lives in Ombrix.dll: it must stay as long as this DLL hands out its handles.
    if (module) GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, path, &module);
    return module;
}

}  // namespace

void ShareOmbrixCertificateTable() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (ThisModule() == GetModuleHandleW(nullptr)) return;
        HMODULE ombrix = OmbrixModule();
        if (!ombrix) return;
        using TableFunction = const ombrix::CertificateTableApi*(WINAPI*)();
        auto table = reinterpret_cast<TableFunction>(GetProcAddress(ombrix, "OmbrixCertificateTable"));
        if (table) ombrix::UseCertificateTable(table());
    });
}

}  // namespace certstandin
