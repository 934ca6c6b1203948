#include "link_opener.h"

#include <shellapi.h>

#include <cstring>
#include <vector>

#include "handles.h"

namespace lumvane {

namespace {

// Registry texts longer than this are not command lines or class names.
constexpr DWORD kMaxRegistryTextBytes = 64 * 1024;

// Longer links go straight to the browser: no file name is this long, and Wine's shell
// overflows a fixed buffer on names of about 1000 characters.
constexpr size_t kShellLinkLimit = 512;

std::wstring ExpandEnvironment(const std::wstring& text) {
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0) return text;
    std::wstring expanded(needed, L'\0');
    const DWORD written = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
    if (written == 0 || written > needed) return text;
    expanded.resize(written - 1);  // the count includes the terminating zero
    return expanded;
}

}  // namespace

std::optional<std::wstring> ReadDefaultText(HKEY root, const std::wstring& subkey) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return std::nullopt;
    RegistryKey key(opened);

    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key.Get(), nullptr, nullptr, &type, nullptr, &size);
    std::vector<BYTE> data;
    // The value may change between the size query and the read: retry while it grows.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
        if (size == 0 || size > kMaxRegistryTextBytes) return std::nullopt;
        data.assign(size, 0);
        DWORD got = size;
        status = RegQueryValueExW(key.Get(), nullptr, nullptr, &type, data.data(), &got);
        if (status == ERROR_SUCCESS) {
            data.resize(got);
            break;
        }
        size = got;
    }
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;

    // The stored bytes need not end in a zero, nor hold a whole number of characters.
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    const size_t end = text.find(L'\0');
    if (end != std::wstring::npos) text.resize(end);
    if (type == REG_EXPAND_SZ) text = ExpandEnvironment(text);
    if (text.empty()) return std::nullopt;
    return text;
}

std::optional<std::wstring> ReadBrowserCommand() {
    const std::optional<std::wstring> fileClass = ReadDefaultText(HKEY_CLASSES_ROOT, L".htm");
    if (!fileClass) return std::nullopt;
    return ReadDefaultText(HKEY_CLASSES_ROOT, *fileClass + L"\\shell\\open\\command");
}

std::wstring BuildBrowserCommandLine(std::wstring_view command, std::wstring_view link) {
    const size_t quoted = command.find(L"\"%1\"");
    const size_t bare = quoted == std::wstring_view::npos ? command.find(L"%1") : std::wstring_view::npos;
    const size_t cut = quoted != std::wstring_view::npos ? quoted : bare;
    std::wstring commandLine(cut != std::wstring_view::npos ? command.substr(0, cut) : command);
    if (commandLine.empty() || commandLine.back() != L' ') commandLine.push_back(L' ');
    if (quoted != std::wstring_view::npos) {
        commandLine.push_back(L'"');
        commandLine.append(link);
        commandLine.push_back(L'"');
    } else {
        commandLine.append(link);
    }
    return commandLine;
}

LinkResult OpenLink(const std::wstring& link, int showMode) {
    if (link.empty()) return LinkResult::kEmpty;
    // No file name or URL holds a raw double quote; on a command line it would end the
    // argument and let the rest of the link add arguments of its own.
    if (link.find(L'"') != std::wstring::npos) return LinkResult::kRefused;

    if (link.size() <= kShellLinkLimit) {
        const auto shellResult =
            reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", link.c_str(), nullptr, nullptr, showMode));
        if (shellResult > 32) return LinkResult::kOpened;
    }

    const std::optional<std::wstring> command = ReadBrowserCommand();
    if (!command) return LinkResult::kFailed;
    std::wstring commandLine = BuildBrowserCommandLine(*command, link);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showMode);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return LinkResult::kFailed;
    }
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    return LinkResult::kOpened;
}

}  // namespace lumvane
