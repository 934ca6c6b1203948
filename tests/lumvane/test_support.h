// Helpers shared by Lumvane's tests: folders with product files, bitmaps, message pumping,
// the ".htm" class override and the recorder's records.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumtest {

// The desktop the test program and the programs it starts work on.
constexpr wchar_t kTestDesktop[] = L"LumvaneTest";

// A Unix path as Wine's drive Z: sees it.
std::wstring FromUnixPath(const char* unixPath);
std::wstring Widen(std::string_view utf8);

std::string ReadAll(const std::wstring& path);

// A 24-bit bottom-up Windows bitmap file of the given size, filled with one colour.
std::string BitmapFile(int width, int height, COLORREF colour);

// A new empty folder under the temporary directory, deleted with its files.
class TempFolder {
public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();
    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }
    void Write(const std::wstring& name, std::string_view bytes) const;

private:
    std::wstring path_;
};

// Makes `folder` the current directory for the holder's lifetime.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& folder);
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;
    ~CurrentDirectory();

private:
    std::wstring previous_;
};

// Dispatches this thread's messages for `milliseconds`.
void PumpMessages(DWORD milliseconds);
// Pumps messages until `condition` holds or `milliseconds` pass; the condition's last value.
bool WaitFor(const std::function<bool()>& condition, DWORD milliseconds);

// Registers HKCR\.htm as the class `className`, whose shell\open\command default value is
// `command` (none when std::nullopt); restores the previous ".htm" value and removes the class
// when destroyed.
class HtmClassOverride {
public:
    HtmClassOverride(const std::wstring& className, const std::optional<std::wstring>& command);
    HtmClassOverride(const HtmClassOverride&) = delete;
    HtmClassOverride& operator=(const HtmClassOverride&) = delete;
    ~HtmClassOverride();
    bool Ok() const { return ok_; }

private:
    std::wstring className_;
    std::optional<std::vector<BYTE>> previousValue_;
    DWORD previousType_ = REG_SZ;
    bool ok_ = false;
};

// The recorder writes one record per start into a folder named by LUMVANE_RECORD.
class RecorderFolder {
public:
    RecorderFolder();  // sets LUMVANE_RECORD for this process and the programs it starts
    ~RecorderFolder();
    // The argument lists recorded so far.
    std::vector<std::vector<std::wstring>> Records() const;
    // Waits until at least `count` records exist.
    bool WaitForRecords(size_t count, DWORD milliseconds) const;

private:
    TempFolder folder_;
};

std::wstring RecorderPath();
std::wstring LumvanePath();

// Sets a registry default value with exactly `bytes` bytes of `text` (no terminating zero
// unless the bytes include it).
bool SetDefaultValueBytes(HKEY root, const std::wstring& subkey, DWORD type, const void* data, DWORD bytes);

}  // namespace lumtest

namespace lumtest {

// One control of the dialog as its template defines it, in dialog units.
struct ControlSpec {
    int id;
    const wchar_t* className;
    DWORD kind;  // SS_TYPEMASK bits of a static, BS_TYPEMASK bits of a button
    bool border;
    bool sunken;
    bool realSizeImage;
    const wchar_t* text;  // nullptr: an image control
    RECT units;           // x, y, width, height
    bool sizedByImage;    // the control takes its image's size
};

extern const ControlSpec kControls[12];
const ControlSpec* FindControlSpec(int id);

// A control's position and size in pixels as the dialog manager computes them from dialog
// units: origin and size are converted separately.
RECT ExpectedPixels(HWND mapper, const RECT& units);

// A point given in dialog units, in screen coordinates of `dialog`'s client area.
POINT DialogPoint(HWND dialog, HWND mapper, int x, int y);

}  // namespace lumtest
