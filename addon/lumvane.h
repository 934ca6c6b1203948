// The other-products dialog: shows two products read from "Lumvane.ini" and opens their links.
#pragma once

#include <windows.h>

#include <array>
#include <string>

namespace lumvane {

constexpr wchar_t kProductFileName[] = L"Lumvane.ini";
constexpr wchar_t kDialogCaption[] = L"Setup - Other Kestrane! Products";

// Opens a product's link on a click.
using LinkOpener = void (*)(const std::wstring& link, int showMode, void* context);

// The program's opener: the shell or the ".htm" browser; a link that neither opens does
// nothing visible.
void OpenProductLink(const std::wstring& link, int showMode, void* context);

// Shows the dialog modally with no owner window; returns 0 when it is closed, or -1 when it
// could not be created. `resources` is the module holding the dialog's resources.
INT_PTR RunDialog(HINSTANCE resources, LinkOpener opener = OpenProductLink, void* openerContext = nullptr);

// Creates the dialog modeless and visible (for hosts that run their own message loop); it
// destroys itself when closed. Null on failure.
HWND CreateModelessDialog(HINSTANCE resources, HWND owner, LinkOpener opener, void* openerContext);

// What a running dialog holds, for inspection by its host.
struct DialogSnapshot {
    // first picture, second picture, first title, second title
    std::array<bool, 4> hover{};
    HCURSOR handCursor = nullptr;
    HCURSOR arrowCursor = nullptr;
    std::array<std::wstring, 2> links;
};

// False when `dialog` is not a live Lumvane dialog.
bool GetDialogSnapshot(HWND dialog, DialogSnapshot& snapshot);

}  // namespace lumvane
