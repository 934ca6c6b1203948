// The OLE surface test runs on a desktop of its own: the process's default desktop may already
// be served by a Wine desktop process started without a display (by an earlier program of the
// same Wine server), where no window could be created. The program starts itself again on a
// fresh desktop, which Wine serves on this process's display, and reports the child's result.
#include <objbase.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include "com/module.h"
#include "module/classes.h"

#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kDesktopVariable[] = L"OMBRIX_TEST_DESKTOP";

int RunOnOwnDesktop() {
    wchar_t name[64];
    swprintf(name, 64, L"OmbrixOleSurface%lu", GetCurrentProcessId());
    HDESK desktop = CreateDesktopW(name, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (!desktop) return -1;
    SetEnvironmentVariableW(kDesktopVariable, name);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = name;
    PROCESS_INFORMATION process{};
    std::wstring command_line = GetCommandLineW();
    int result = -1;
    if (CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        result = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseDesktop(desktop);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (GetEnvironmentVariableW(kDesktopVariable, nullptr, 0) == 0) {
        const int result = RunOnOwnDesktop();
        if (result != -1) return result;
        // No desktop of its own: run here and let the tests say what fails.
    }
    testing::InitGoogleTest(&argc, argv);
    com::DescribeModule(ombrix::kOmbrixModule);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
