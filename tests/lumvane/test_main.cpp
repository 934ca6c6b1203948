// Lumvane's test program. It works on a desktop of its own: Wine starts that desktop's shell
// from this process, on this test's display, whatever the prefix's default desktop runs on.
// Under Xvfb there is no window manager, and Wine then waits two seconds for every managed
// window it hides; the test's programs get unmanaged windows through Wine's per-program
// settings, removed again at the end.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const wchar_t* const kPrograms[] = {L"Lumvane.exe", L"lumvane_test.exe"};
const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";

// Sets Managed=N for the programs whose settings key did not exist; removes those keys later.
class UnmanagedWindows {
public:
    UnmanagedWindows() {
        for (const wchar_t* program : kPrograms) {
            const std::wstring key = std::wstring(kAppDefaults) + program;
            HKEY existing = nullptr;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &existing) == ERROR_SUCCESS) {
                RegCloseKey(existing);
                continue;  // someone's own settings: left alone
            }
            HKEY driver = nullptr;
            if (RegCreateKeyExW(HKEY_CURRENT_USER, (key + L"\\X11 Driver").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, &driver, nullptr) != ERROR_SUCCESS)
                continue;
            RegSetValueExW(driver, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"), 2 * sizeof(wchar_t));
            RegCloseKey(driver);
            created_.push_back(key);
        }
    }
    ~UnmanagedWindows() {
        for (const std::wstring& key : created_) RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    }

private:
    std::vector<std::wstring> created_;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Before this thread has any window.
    const HDESK desktop = CreateDesktopW(lumtest::kTestDesktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (!desktop || !SetThreadDesktop(desktop)) {
        fprintf(stderr, "cannot create the test desktop (error %lu)\n", GetLastError());
        return 2;
    }
    UnmanagedWindows unmanaged;
    return RUN_ALL_TESTS();
}
