// Registration as regsvr32 performs it: the keys and values of the six registry scripts compared
// with `reg query` output and a listing written from the class table, the module path with a
// quote in it, repeated registration and unregistration. Runs alone (it changes the registry)
// and leaves the DLL registered.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Ombrix_h.h"
#include "com/module_fixture.h"
#include "test_util.h"

namespace {

using Registration = test::LoadedModule;
using test::ComPtr;

const wchar_t* const kProgIds[] = {
    L"Kestrane.Blob.2",   L"Kestrane.Blob",   L"Kestrane.Blob64.2",   L"Kestrane.Blob64",
    L"Kestrane.Ombrix.1", L"Kestrane.Ombrix", L"Kestrane.MemBlob.2",  L"Kestrane.MemBlob",
    L"Kestrane.FileBlob.2", L"Kestrane.FileBlob", L"Kestrane.StreamBlob.2", L"Kestrane.StreamBlob",
};
const wchar_t* const kClassKeys[] = {
    L"CLSID\\{17A48B00-4100-485F-B139-06176239E3B0}", L"CLSID\\{E3D2AA41-E067-4CBA-BD43-FA19118CE66C}",
    L"CLSID\\{A80E4BE2-8434-4AFB-8AEC-B4A95812A0FF}", L"CLSID\\{43729A60-D552-4493-BD30-D664F7C89AF2}",
    L"CLSID\\{21B07F42-73E2-459F-9D75-8BBB364FE5B7}", L"CLSID\\{094BC822-8BB6-414D-987E-866E9052F24E}",
};
constexpr wchar_t kTypeLibKey[] = L"TypeLib\\{5646FC78-16AD-4A1A-AE7D-DAF422E679A6}";
// The type library's path lives under the platform of the DLL's width.
#ifdef _WIN64
constexpr wchar_t kTypeLibPath[] = L"\\1.0\\0\\win64";
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr wchar_t kTypeLibPath[] = L"\\1.0\\0\\win32";
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

std::wstring ReadClassesRoot(const std::wstring& key, const wchar_t* name = nullptr) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return L"<missing>";
    return value;
}

bool KeyExists(const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

// Runs a program of the Windows installation with its output captured; its exit code.
DWORD RunProgram(const std::wstring& command_line, std::string* output = nullptr) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return 0xFFFFFFFF;
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::wstring line = command_line;
    const BOOL started =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    CloseHandle(write_end);
    std::string text;
    if (started) {
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got) text.append(chunk, got);
    }
    CloseHandle(read_end);
    if (!started) return 0xFFFFFFFF;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (output) *output = text;
    return code;
}

std::string Narrow(const std::wstring& text) {
    const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(length > 0 ? length - 1 : 0, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, result.data(), length, nullptr, nullptr);
    return result;
}

// Line endings dropped, blank lines at both ends removed, the module path replaced.
std::string Normalize(std::string text, const std::string& module_path) {
    std::string result;
    for (char c : text) if (c != '\r') result.push_back(c);
    for (size_t at = 0; !module_path.empty() && (at = result.find(module_path, at)) != std::string::npos;) {
        result.replace(at, module_path.size(), "%MODULE%");
        at += 8;
    }
    const size_t first = result.find_first_not_of('\n');
    const size_t last = result.find_last_not_of('\n');
    return first == std::string::npos ? std::string() : result.substr(first, last - first + 1);
}

// The listing: "[key]" lines, each followed by what `reg query HKCR\key /s` prints for it.
std::vector<std::pair<std::string, std::string>> ReadListing() {
    std::ifstream file(REGISTRY_LISTING_PATH);
    std::vector<std::pair<std::string, std::string>> sections;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '#') continue;
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            sections.emplace_back(line.substr(1, line.size() - 2), std::string());
        } else if (!sections.empty()) {
            sections.back().second += line + "\n";
        }
    }
    for (auto& section : sections) section.second = Normalize(section.second, "");
    return sections;
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

TEST_F(Registration, RegistryHoldsExactlyTheScriptsKeysAndValues) {
    ASSERT_EQ(RunProgram(L"regsvr32.exe /s " + Quoted(path_)), 0u);
    const auto listing = ReadListing();
    ASSERT_EQ(listing.size(), 18u) << "twelve ProgIDs and six classes";
    const std::string module_path = Narrow(path_);
    for (const auto& [key, expected] : listing) {
        std::string output;
        ASSERT_EQ(RunProgram(L"reg.exe query \"HKCR\\" + std::wstring(key.begin(), key.end()) + L"\" /s", &output), 0u)
            << key;
        EXPECT_EQ(Normalize(output, module_path), expected) << key;
    }
    // The type library is registered beside them, from the module itself.
    EXPECT_EQ(ReadClassesRoot(std::wstring(kTypeLibKey) + L"\\1.0"), L"Kestrane! COM Crypt ActiveX Control");
    EXPECT_EQ(ReadClassesRoot(std::wstring(kTypeLibKey) + kTypeLibPath), path_);

    // Each ProgID leads to its class as COM resolves it.
    const CLSID* clsids[] = {&CLSID_Blob, &CLSID_Blob64, &CLSID_Ombrix, &CLSID_MemBlob, &CLSID_FileBlob,
                             &CLSID_StreamBlob};
    for (size_t i = 0; i < 12; ++i) {
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromProgID(kProgIds[i], &clsid), S_OK) << i;
        EXPECT_TRUE(IsEqualCLSID(clsid, *clsids[i / 2])) << i;
    }
}

TEST_F(Registration, RegisteringTwiceIsHarmlessAndUnregisteringRemovesEverything) {
    ASSERT_EQ(register_(), S_OK);
    ASSERT_EQ(register_(), S_OK);
    EXPECT_EQ(ReadClassesRoot(L"Kestrane.Ombrix\\CurVer"), L"Kestrane.Ombrix.1");
    EXPECT_EQ(ReadClassesRoot(std::wstring(kClassKeys[2]) + L"\\MiscStatus\\1"), L"132497");

    ASSERT_EQ(RunProgram(L"regsvr32.exe /s /u " + Quoted(path_)), 0u);
    for (const wchar_t* key : kProgIds) EXPECT_FALSE(KeyExists(key)) << Narrow(key);
    for (const wchar_t* key : kClassKeys) EXPECT_FALSE(KeyExists(key)) << Narrow(key);
    // The other width's registration may keep the library's key; this width's entry is gone.
    EXPECT_FALSE(KeyExists(std::wstring(kTypeLibKey) + kTypeLibPath));
    EXPECT_FALSE(KeyExists(L"Interface\\{2960B54C-3D84-4454-A48A-BBBF7E241B27}"));
    EXPECT_TRUE(KeyExists(L"CLSID"));
    CLSID clsid{};
    EXPECT_NE(CLSIDFromProgID(L"Kestrane.Ombrix", &clsid), S_OK);

    // Unregistering what is no longer there succeeds.
    EXPECT_EQ(unregister_(), S_OK);
    EXPECT_EQ(RunProgram(L"regsvr32.exe /s /u " + Quoted(path_)), 0u);
    EXPECT_TRUE(KeyExists(L"CLSID"));

    ASSERT_EQ(register_(), S_OK);
    EXPECT_TRUE(KeyExists(kClassKeys[2]));
}

TEST_F(Registration, UnregistrationGoesOnPastAMissingPieceAndRemovesTheRest) {
    ASSERT_EQ(register_(), S_OK);
    // Half of the registration gone already: a ProgID, a class key and the type library.
    ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Kestrane.Blob.2"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKeys[1]), ERROR_SUCCESS);
    ASSERT_EQ(UnRegisterTypeLib(LIBID_OMBRIXLib, 1, 0, LOCALE_NEUTRAL, kSysKind), S_OK);
    EXPECT_EQ(unregister_(), S_OK);
    for (const wchar_t* key : kProgIds) EXPECT_FALSE(KeyExists(key)) << Narrow(key);
    for (const wchar_t* key : kClassKeys) EXPECT_FALSE(KeyExists(key)) << Narrow(key);
    ASSERT_EQ(register_(), S_OK);
}

TEST_F(Registration, AModulePathWithAQuoteIsWrittenExactly) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"it's here";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring copy = folder + L"\\Ombrix.dll";
    ASSERT_TRUE(CopyFileW(path_.c_str(), copy.c_str(), FALSE));

    EXPECT_EQ(RunProgram(L"regsvr32.exe /s " + Quoted(copy)), 0u);
    for (const wchar_t* key : kClassKeys) {
        EXPECT_EQ(ReadClassesRoot(std::wstring(key) + L"\\InprocServer32"), copy) << Narrow(key);
    }
    EXPECT_EQ(ReadClassesRoot(std::wstring(kClassKeys[2]) + L"\\ToolboxBitmap32"), copy + L", 101");
    EXPECT_EQ(ReadClassesRoot(std::wstring(kTypeLibKey) + kTypeLibPath), copy);
    // The copy serves the control from the registry.
    {
        ComPtr<IOmbrix> control;
        ASSERT_EQ(CoCreateInstance(CLSID_Ombrix, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&control)), S_OK);
        com::Bstr version;
        EXPECT_EQ(control->get_Version(version.Put()), S_OK);
        EXPECT_STREQ(version.Get(), L"2.2.5.115");
    }
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(RunProgram(L"regsvr32.exe /s /u " + Quoted(copy)), 0u);
    EXPECT_FALSE(KeyExists(kClassKeys[2]));

    // Leave the prefix registered with the built DLL for the script clients that follow.
    ASSERT_EQ(RunProgram(L"regsvr32.exe /s " + Quoted(path_)), 0u);
    EXPECT_EQ(ReadClassesRoot(std::wstring(kClassKeys[2]) + L"\\InprocServer32"), path_);
    // The copy may stay loaded by COM until the process ends; a leftover is harmless.
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
