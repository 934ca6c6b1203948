#include "com/registrar.h"

#include <cwctype>
#include <vector>

#include "com/holders.h"
#include "com/module.h"

namespace com {
namespace {

struct ScriptKey {
    enum class Flag { Normal, NoRemove, ForceRemove, Delete };
    Flag flag = Flag::Normal;
    bool is_value = false;  // a "val" entry: a named value of the enclosing key
    std::wstring name;
    bool has_value = false;
    wchar_t type = L's';
    std::wstring value;
    std::vector<ScriptKey> children;
};

struct RootKey {
    HKEY hkey;
    std::vector<ScriptKey> keys;
};

class Parser {
public:
    explicit Parser(std::wstring_view text) : text_(text) {}

    bool ParseScript(std::vector<RootKey>& roots) {
        std::wstring token;
        while (Next(token)) {
            RootKey root{RootFromName(token), {}};
            if (!root.hkey || !Expect(L"{") || !ParseKeys(root.keys)) return false;
            roots.push_back(std::move(root));
        }
        return !failed_;
    }

private:
    static HKEY RootFromName(const std::wstring& name) {
        if (name == L"HKCR" || name == L"HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
        if (name == L"HKCU" || name == L"HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
        if (name == L"HKLM" || name == L"HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
        if (name == L"HKU" || name == L"HKEY_USERS") return HKEY_USERS;
        return nullptr;
    }

    // Keys up to and including the closing brace.
    bool ParseKeys(std::vector<ScriptKey>& keys) {
        std::wstring token;
        while (Next(token)) {
            if (token == L"}" && !quoted_) return true;
            ScriptKey key;
            if (!quoted_) {
                if (_wcsicmp(token.c_str(), L"NoRemove") == 0) key.flag = ScriptKey::Flag::NoRemove;
                if (_wcsicmp(token.c_str(), L"ForceRemove") == 0) key.flag = ScriptKey::Flag::ForceRemove;
                if (_wcsicmp(token.c_str(), L"Delete") == 0) key.flag = ScriptKey::Flag::Delete;
                if (key.flag != ScriptKey::Flag::Normal && !Next(token)) return false;
                if (!quoted_ && _wcsicmp(token.c_str(), L"val") == 0) {
                    key.is_value = true;
                    if (!Next(token)) return false;
                }
            }
            key.name = token;
            if (PeekIs(L'=')) {
                Next(token);
                std::wstring type;
                if (!Next(type) || type.size() != 1 || !Next(key.value)) return false;
                key.type = static_cast<wchar_t>(std::towlower(type[0]));
                key.has_value = true;
            }
            if (!key.is_value && PeekIs(L'{')) {
                Next(token);
                if (!ParseKeys(key.children)) return false;
            }
            keys.push_back(std::move(key));
        }
        return false;  // missing closing brace
    }

    bool Expect(const wchar_t* expected) {
        std::wstring token;
        return Next(token) && !quoted_ && token == expected;
    }

    void SkipSpace() {
        while (pos_ < text_.size() && std::iswspace(text_[pos_])) ++pos_;
    }

    bool PeekIs(wchar_t c) {
        SkipSpace();
        return pos_ < text_.size() && text_[pos_] == c;
    }

    // One token: a brace, '=', a quoted string ('' inside stands for ') or a bare word.
    bool Next(std::wstring& token) {
        token.clear();
        quoted_ = false;
        SkipSpace();
        if (pos_ >= text_.size()) return false;
        const wchar_t c = text_[pos_];
        // A brace followed by text starts a bare word such as {CLSID}.
        const bool word_follows = pos_ + 1 < text_.size() && !std::iswspace(text_[pos_ + 1]);
        if (c == L'=' || ((c == L'{' || c == L'}') && !word_follows)) {
            token.assign(1, c);
            ++pos_;
            return true;
        }
        if (c == L'\'') {
            quoted_ = true;
            ++pos_;
            for (;;) {
                if (pos_ >= text_.size()) {
                    failed_ = true;
                    return false;
                }
                if (text_[pos_] == L'\'') {
                    if (pos_ + 1 < text_.size() && text_[pos_ + 1] == L'\'') {
                        token.push_back(L'\'');
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    return true;
                }
                token.push_back(text_[pos_++]);
            }
        }
        while (pos_ < text_.size() && !std::iswspace(text_[pos_]) && text_[pos_] != L'=') {
            token.push_back(text_[pos_++]);
        }
        return true;
    }

    std::wstring_view text_;
    size_t pos_ = 0;
    bool quoted_ = false;
    bool failed_ = false;
};

LSTATUS SetValue(HKEY key, const wchar_t* name, const ScriptKey& entry) {
    if (entry.type == L'd') {
        const DWORD number = wcstoul(entry.value.c_str(), nullptr, 0);
        return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    }
    const auto bytes = static_cast<DWORD>((entry.value.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(entry.value.c_str()), bytes);
}

// A registry call's status as an HRESULT (the macro would evaluate a call in its argument twice).
HRESULT FromStatus(LSTATUS status) { return HRESULT_FROM_WIN32(status); }

HRESULT RegisterKeys(HKEY parent, const std::vector<ScriptKey>& keys) {
    for (const auto& entry : keys) {
        if (entry.is_value) {
            if (entry.has_value) RETURN_IF_FAILED(FromStatus(SetValue(parent, entry.name.c_str(), entry)));
            continue;
        }
        if (entry.flag == ScriptKey::Flag::Delete || entry.flag == ScriptKey::Flag::ForceRemove) {
            RegDeleteTreeW(parent, entry.name.c_str());
            if (entry.flag == ScriptKey::Flag::Delete) continue;
        }
        ombrix::RegistryKey key;
        RETURN_IF_FAILED(FromStatus(RegCreateKeyExW(parent, entry.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                    key.Put(), nullptr)));
        if (entry.has_value) RETURN_IF_FAILED(FromStatus(SetValue(key.Get(), nullptr, entry)));
        RETURN_IF_FAILED(RegisterKeys(key.Get(), entry.children));
    }
    return S_OK;
}

// Removes what the script marks for removal. A key that is already absent is no failure; after
// a failure the remaining keys are still removed and the first failure is returned.
HRESULT UnregisterKeys(HKEY parent, const std::vector<ScriptKey>& keys) {
    HRESULT first_failure = S_OK;
    const auto note = [&first_failure](LSTATUS status) {
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(first_failure))
            first_failure = HRESULT_FROM_WIN32(status);
    };
    for (const auto& entry : keys) {
        if (entry.is_value) continue;  // values go with their key
        if (entry.flag == ScriptKey::Flag::ForceRemove || entry.flag == ScriptKey::Flag::Delete) {
            const LSTATUS status = RegDeleteTreeW(parent, entry.name.c_str());
            note(status);
            if (status == ERROR_SUCCESS) note(RegDeleteKeyW(parent, entry.name.c_str()));
            continue;
        }
        DWORD subkeys = 0;
        {
            ombrix::RegistryKey key;
            const LSTATUS status = RegOpenKeyExW(parent, entry.name.c_str(), 0, KEY_ALL_ACCESS, key.Put());
            note(status);
            if (status != ERROR_SUCCESS) continue;
            const HRESULT hr = UnregisterKeys(key.Get(), entry.children);
            if (FAILED(hr) && SUCCEEDED(first_failure)) first_failure = hr;
            RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr);
        }
        if (entry.flag == ScriptKey::Flag::NoRemove || subkeys != 0) continue;
        note(RegDeleteKeyW(parent, entry.name.c_str()));
    }
    return first_failure;
}

}  // namespace

HRESULT ApplyRegistryScriptText(std::wstring_view script, std::span<const ScriptVariable> variables, bool do_register) {
    // A value becomes part of a quoted string, so its quotes are doubled.
    std::wstring text;
    for (size_t pos = 0; pos < script.size();) {
        const ScriptVariable* found = nullptr;
        if (script[pos] == L'%') {
            for (const ScriptVariable& variable : variables) {
                const std::wstring_view rest = script.substr(pos + 1);
                if (rest.size() > variable.name.size() && rest.substr(0, variable.name.size()) == variable.name &&
                    rest[variable.name.size()] == L'%') {
                    found = &variable;
                    break;
                }
            }
        }
        if (!found) {
            text.push_back(script[pos++]);
            continue;
        }
        for (wchar_t c : found->value) {
            text.push_back(c);
            if (c == L'\'') text.push_back(L'\'');
        }
        pos += found->name.size() + 2;
    }

    std::vector<RootKey> roots;
    if (!Parser(text).ParseScript(roots)) return DISP_E_EXCEPTION;
    HRESULT first_failure = S_OK;
    for (const auto& root : roots) {
        if (do_register) {
            RETURN_IF_FAILED(RegisterKeys(root.hkey, root.keys));
        } else {
            const HRESULT hr = UnregisterKeys(root.hkey, root.keys);
            if (FAILED(hr) && SUCCEEDED(first_failure)) first_failure = hr;
        }
    }
    return first_failure;
}

HRESULT ApplyRegistryScript(UINT resource_id, bool do_register, std::span<const ScriptVariable> variables) {
    const HMODULE module = ModuleHandle();
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(resource_id), L"REGISTRY");
    if (!resource) return HRESULT_FROM_WIN32(GetLastError());
    HGLOBAL loaded = LoadResource(module, resource);
    const auto* bytes = static_cast<const char*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD size = SizeofResource(module, resource);
    if (!bytes) return HRESULT_FROM_WIN32(GetLastError());
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), nullptr, 0);
    std::wstring script(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), script.data(), length);
    std::vector<ScriptVariable> all(variables.begin(), variables.end());
    all.push_back({L"MODULE", ModulePath()});
    return ApplyRegistryScriptText(script, all, do_register);
}

}  // namespace com
