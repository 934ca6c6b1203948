// Test recorder: a program that Lumvane's links start. It writes the arguments it received,
// one per line in UTF-8 after their count, to a new file in the folder named by the
// LUMVANE_RECORD environment variable, and exits.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    return bytes;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"LUMVANE_RECORD", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;

    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments) return 3;
    std::string record = std::to_string(count - 1) + "\n";
    for (int index = 1; index < count; ++index) record += Utf8(arguments[index]) + "\n";
    LocalFree(arguments);

    // Written under a temporary name and renamed, so a reader never sees half a record.
    const std::wstring base = std::wstring(folder) + L"\\" + std::to_wstring(GetCurrentProcessId());
    const std::wstring partial = base + L".part";
    const HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 4;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || !MoveFileW(partial.c_str(), (base + L".rec").c_str())) return 5;
    return 0;
}
