// Registry scripts: creation, values, %MODULE% with quotes, and what unregistration keeps.
#include "com/registrar.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr wchar_t kRoot[] = L"Software\\OmbrixRegistrarTest";

// A script with only %MODULE% replaced, by `module_path`.
HRESULT ApplyWithModule(std::wstring_view script, std::wstring_view module_path, bool do_register) {
    const com::ScriptVariable module[] = {{L"MODULE", module_path}};
    return com::ApplyRegistryScriptText(script, module, do_register);
}

std::wstring ReadString(const std::wstring& key, const wchar_t* name) {
    wchar_t value[512] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
        return L"<missing>";
    }
    return value;
}

bool KeyExists(const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

constexpr wchar_t kScript[] = LR"(HKCU
{
    NoRemove Software
    {
        NoRemove OmbrixRegistrarTest
        {
            Prog.Id.1 = s 'A Class'
            {
                CLSID = s '{11111111-2222-3333-4444-555555555555}'
            }
            ForceRemove {11111111-2222-3333-4444-555555555555} = s 'A Class'
            {
                ForceRemove 'Programmable'
                InprocServer32 = s '%MODULE%'
                {
                    val ThreadingModel = s 'both'
                }
                'ToolboxBitmap32' = s '%MODULE%, 101'
                'MiscStatus' = s '0'
                {
                    '1' = s '132497'
                }
                val Number = d '42'
            }
        }
    }
})";

class Registrar : public testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kRoot); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kRoot); }
    const std::wstring root_ = kRoot;
    const std::wstring clsid_ = root_ + L"\\{11111111-2222-3333-4444-555555555555}";
};

TEST_F(Registrar, RegistersKeysValuesAndTheQuotedModulePath) {
    const std::wstring path = L"C:\\it's here\\Ombrix.dll";
    ASSERT_EQ(ApplyWithModule(kScript, path, true), S_OK);
    EXPECT_EQ(ReadString(root_ + L"\\Prog.Id.1", nullptr), L"A Class");
    EXPECT_EQ(ReadString(root_ + L"\\Prog.Id.1\\CLSID", nullptr), L"{11111111-2222-3333-4444-555555555555}");
    EXPECT_EQ(ReadString(clsid_ + L"\\InprocServer32", nullptr), path);
    EXPECT_EQ(ReadString(clsid_ + L"\\InprocServer32", L"ThreadingModel"), L"both");
    EXPECT_EQ(ReadString(clsid_ + L"\\ToolboxBitmap32", nullptr), path + L", 101");
    EXPECT_EQ(ReadString(clsid_ + L"\\MiscStatus", nullptr), L"0");
    EXPECT_EQ(ReadString(clsid_ + L"\\MiscStatus\\1", nullptr), L"132497");
    EXPECT_TRUE(KeyExists(clsid_ + L"\\Programmable"));
    DWORD number = 0, size = sizeof number;
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, clsid_.c_str(), L"Number", RRF_RT_REG_DWORD, nullptr, &number, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(number, 42u);

    // Variables: an unknown %NAME% stays as it is, a known one is replaced with its quotes doubled.
    const com::ScriptVariable variables[] = {{L"MODULE", path}, {L"NAME", L"it's"}};
    ASSERT_EQ(com::ApplyRegistryScriptText(L"HKCU { NoRemove Software { OmbrixRegistrarTest { V = s '%NAME% %OTHER%' } } }",
                                           variables, true), S_OK);
    EXPECT_EQ(ReadString(root_ + L"\\V", nullptr), L"it's %OTHER%");
}

TEST_F(Registrar, ForceRemoveReplacesStaleKeysOnRegistration) {
    HKEY stale = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, (clsid_ + L"\\Stale").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &stale,
                    nullptr);
    RegCloseKey(stale);
    ASSERT_EQ(ApplyWithModule(kScript, L"x.dll", true), S_OK);
    EXPECT_FALSE(KeyExists(clsid_ + L"\\Stale"));
}

TEST_F(Registrar, UnregistrationRemovesScriptKeysButKeepsNoRemoveKeys) {
    ASSERT_EQ(ApplyWithModule(kScript, L"x.dll", true), S_OK);
    ASSERT_EQ(ApplyWithModule(kScript, L"x.dll", false), S_OK);
    EXPECT_FALSE(KeyExists(root_ + L"\\Prog.Id.1"));
    EXPECT_FALSE(KeyExists(clsid_));
    EXPECT_TRUE(KeyExists(root_));
    // Unregistering what is not there is not an error.
    EXPECT_EQ(ApplyWithModule(kScript, L"x.dll", false), S_OK);
}

TEST_F(Registrar, KeysWithForeignSubkeysSurviveUnregistration) {
    ASSERT_EQ(ApplyWithModule(kScript, L"x.dll", true), S_OK);
    HKEY foreign = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, (root_ + L"\\Prog.Id.1\\Foreign").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &foreign, nullptr);
    RegCloseKey(foreign);
    ASSERT_EQ(ApplyWithModule(kScript, L"x.dll", false), S_OK);
    EXPECT_TRUE(KeyExists(root_ + L"\\Prog.Id.1\\Foreign"));
    EXPECT_FALSE(KeyExists(root_ + L"\\Prog.Id.1\\CLSID"));
}

TEST_F(Registrar, MalformedScriptsAreRefusedWithoutWriting) {
    EXPECT_TRUE(FAILED(ApplyWithModule(L"HKCU { NoRemove Software { A = s 'unterminated }}", L"", true)));
    EXPECT_TRUE(FAILED(ApplyWithModule(L"HKXX { A }", L"", true)));
    EXPECT_TRUE(FAILED(ApplyWithModule(L"HKCU { NoRemove Software { OmbrixRegistrarTest", L"", true)));
    EXPECT_FALSE(KeyExists(root_));
}

}  // namespace
