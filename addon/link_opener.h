// Opening a product's link: the shell first, then the command line registered for ".htm" files.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace lumvane {

enum class LinkResult {
    kOpened,   // the shell or the browser command started
    kEmpty,    // nothing to open
    kRefused,  // the link holds a double quote and cannot be passed safely on a command line
    kFailed,   // neither the shell nor a registered browser could open it
};

// Opens `link` with the shell verb "open"; failing that, or for a link of more than 512
// characters, starts the ".htm" browser command with the link. `showMode` is the ShowWindow
// mode given to the started program.
LinkResult OpenLink(const std::wstring& link, int showMode);

// The browser command line for `link` from the registered command `command`: the command is
// cut before its placeholder ("%1" in quotes, else the first bare %1), or kept whole when it has
// none, and the link appended after a space; in place of a quoted placeholder the link is
// appended in quotes, so that it stays one argument.
std::wstring BuildBrowserCommandLine(std::wstring_view command, std::wstring_view link);

// The registered browser command for ".htm" files: HKCR\.htm names the file class, whose
// shell\open\command default value holds it. std::nullopt when either is missing or empty.
std::optional<std::wstring> ReadBrowserCommand();

// The default value of `root`\`subkey` as text (REG_SZ, or REG_EXPAND_SZ expanded); the value
// need not end in a zero. std::nullopt when the key or a text value is missing or empty.
std::optional<std::wstring> ReadDefaultText(HKEY root, const std::wstring& subkey);

}  // namespace lumvane
