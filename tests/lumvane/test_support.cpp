#include "test_support.h"

#include <cstring>
#include <sstream>

namespace lumtest {

std::wstring FromUnixPath(const char* unixPath) {
    std::wstring path = L"Z:" + Widen(unixPath);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), count);
    return text;
}

std::string BitmapFile(int width, int height, COLORREF colour) {
    const int row = (width * 3 + 3) & ~3;
    const int imageSize = row * height;
    std::string file(54 + static_cast<size_t>(imageSize), '\0');
    auto put32 = [&](size_t offset, uint32_t value) { memcpy(&file[offset], &value, 4); };
    auto put16 = [&](size_t offset, uint16_t value) { memcpy(&file[offset], &value, 2); };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, static_cast<uint32_t>(file.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    put16(26, 1);
    put16(28, 24);
    put32(34, static_cast<uint32_t>(imageSize));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t at = 54 + static_cast<size_t>(y * row + x * 3);
            file[at] = static_cast<char>(GetBValue(colour));
            file[at + 1] = static_cast<char>(GetGValue(colour));
            file[at + 2] = static_cast<char>(GetRValue(colour));
        }
    }
    return file;
}

std::string ReadAll(const std::wstring& path) {
    std::string bytes;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

TempFolder::TempFolder() {
    static unsigned counter = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"lumvane-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW(File(found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path_.c_str());
}

void TempFolder::Write(const std::wstring& name, std::string_view bytes) const {
    const HANDLE file = CreateFileW(File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

CurrentDirectory::CurrentDirectory(const std::wstring& folder) {
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    previous_ = previous;
    SetCurrentDirectoryW(folder.c_str());
}

CurrentDirectory::~CurrentDirectory() { SetCurrentDirectoryW(previous_.c_str()); }

void PumpMessages(DWORD milliseconds) {
    WaitFor([] { return false; }, milliseconds);
}

bool WaitFor(const std::function<bool()>& condition, DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (condition()) return true;
        if (GetTickCount64() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

bool SetDefaultValueBytes(HKEY root, const std::wstring& subkey, DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG status = RegSetValueExW(key, nullptr, 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

HtmClassOverride::HtmClassOverride(const std::wstring& className, const std::optional<std::wstring>& command)
    : className_(className) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, L".htm", 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    DWORD size = 0;
    if (RegQueryValueExW(key, nullptr, nullptr, &previousType_, nullptr, &size) == ERROR_SUCCESS) {
        std::vector<BYTE> value(size);
        if (RegQueryValueExW(key, nullptr, nullptr, &previousType_, value.data(), &size) == ERROR_SUCCESS) {
            value.resize(size);
            previousValue_ = std::move(value);
        }
    }
    const DWORD nameBytes = static_cast<DWORD>((className.size() + 1) * sizeof(wchar_t));
    ok_ = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(className.c_str()), nameBytes) ==
          ERROR_SUCCESS;
    RegCloseKey(key);
    if (ok_ && command) {
        ok_ = SetDefaultValueBytes(HKEY_CLASSES_ROOT, className + L"\\shell\\open\\command", REG_SZ,
                                   command->c_str(), static_cast<DWORD>((command->size() + 1) * sizeof(wchar_t)));
    } else if (ok_) {
        HKEY classKey = nullptr;
        ok_ = RegCreateKeyExW(HKEY_CLASSES_ROOT, className.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &classKey, nullptr) == ERROR_SUCCESS;
        if (classKey) RegCloseKey(classKey);
    }
}

HtmClassOverride::~HtmClassOverride() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L".htm", 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        if (previousValue_) {
            RegSetValueExW(key, nullptr, 0, previousType_, previousValue_->data(),
                           static_cast<DWORD>(previousValue_->size()));
        } else {
            RegDeleteValueW(key, nullptr);
        }
        RegCloseKey(key);
    }
    RegDeleteTreeW(HKEY_CLASSES_ROOT, className_.c_str());
}

RecorderFolder::RecorderFolder() { SetEnvironmentVariableW(L"LUMVANE_RECORD", folder_.Path().c_str()); }

RecorderFolder::~RecorderFolder() { SetEnvironmentVariableW(L"LUMVANE_RECORD", nullptr); }

std::vector<std::vector<std::wstring>> RecorderFolder::Records() const {
    std::vector<std::vector<std::wstring>> records;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(folder_.File(L"*.rec").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return records;
    do {
        std::istringstream file(ReadAll(folder_.File(found.cFileName)));
        std::string line;
        std::vector<std::wstring> arguments;
        if (!std::getline(file, line)) continue;
        const int count = std::stoi(line);
        for (int index = 0; index < count && std::getline(file, line); ++index) arguments.push_back(Widen(line));
        records.push_back(std::move(arguments));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return records;
}

bool RecorderFolder::WaitForRecords(size_t count, DWORD milliseconds) const {
    return WaitFor([&] { return Records().size() >= count; }, milliseconds);
}

std::wstring RecorderPath() { return FromUnixPath(LUMVANE_RECORDER_EXE); }
std::wstring LumvanePath() { return FromUnixPath(LUMVANE_EXE); }

}  // namespace lumtest

namespace lumtest {

const ControlSpec kControls[12] = {
    {1084, L"Static", SS_LEFT, false, false, false, L"Try the other Kestrane! products", {15, 5, 178, 8}, false},
    {1007, L"Static", SS_LEFT, false, false, false,
     L"Feel free to try also other products that can complement your projects.", {27, 16, 256, 8}, false},
    {1008, L"Static", SS_BITMAP, false, false, false, nullptr, {293, 1, 37, 34}, true},
    {1009, L"Static", SS_BLACKRECT, false, true, false, L"", {0, 35, 330, 1}, false},
    {1079, L"Static", SS_BITMAP, true, true, true, nullptr, {18, 47, 61, 55}, false},
    {1000, L"Static", SS_LEFT, false, false, false, L"title1", {95, 48, 214, 10}, false},
    {1081, L"Static", SS_LEFT, false, false, false, L"desc1", {96, 61, 217, 49}, false},
    {1080, L"Static", SS_BITMAP, true, true, false, nullptr, {251, 129, 61, 55}, false},
    {1001, L"Static", SS_LEFT, false, false, false, L"title2", {25, 129, 203, 14}, false},
    {1082, L"Static", SS_LEFT, false, false, false, L"desc2", {26, 142, 211, 48}, false},
    {1083, L"Static", SS_BLACKRECT, false, true, false, L"", {0, 194, 330, 1}, false},
    {IDCANCEL, L"Button", BS_PUSHBUTTON, false, false, false, L"Close", {272, 202, 50, 14}, false},
};

const ControlSpec* FindControlSpec(int id) {
    for (const ControlSpec& spec : kControls)
        if (spec.id == id) return &spec;
    return nullptr;
}

RECT ExpectedPixels(HWND mapper, const RECT& units) {
    RECT originAndSize = units;  // MapDialogRect converts each member on its own
    MapDialogRect(mapper, &originAndSize);
    return {originAndSize.left, originAndSize.top, originAndSize.left + originAndSize.right,
            originAndSize.top + originAndSize.bottom};
}

POINT DialogPoint(HWND dialog, HWND mapper, int x, int y) {
    RECT units{x, y, 0, 0};
    MapDialogRect(mapper, &units);
    POINT point{units.left, units.top};
    ClientToScreen(dialog, &point);
    return point;
}

}  // namespace lumtest
