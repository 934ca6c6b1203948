// Lumvane.exe started in prepared folders and examined from outside with Win32 calls: layout,
// product files, links opened by real clicks, and the three ways to close it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "lumvane.h"
#include "resource.h"
#include "test_support.h"

namespace {

using lumtest::TempFolder;

// One running Lumvane.exe and its dialog.
class LumvaneProcess {
public:
    explicit LumvaneProcess(const std::wstring& folder) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring desktop = lumtest::kTestDesktop;
        startup.lpDesktop = desktop.data();
        std::wstring commandLine = L"\"" + lumtest::LumvanePath() + L"\"";
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                            &process))
            return;
        process_ = process.hProcess;
        CloseHandle(process.hThread);
        id_ = process.dwProcessId;
        lumtest::WaitFor(
            [&] {
                dialog_ = FindWindowW(L"#32770", lumvane::kDialogCaption);
                DWORD owner = 0;
                if (dialog_) GetWindowThreadProcessId(dialog_, &owner);
                if (owner != id_) dialog_ = nullptr;
                return dialog_ && IsWindowVisible(dialog_);
            },
            20000);
        lumtest::PumpMessages(150);  // let it paint
    }
    LumvaneProcess(const LumvaneProcess&) = delete;
    LumvaneProcess& operator=(const LumvaneProcess&) = delete;
    ~LumvaneProcess() {
        if (!process_) return;
        if (!Ended(0)) {
            PostMessageW(dialog_, WM_CLOSE, 0, 0);
            if (!Ended(5000)) TerminateProcess(process_, 99);
        }
        CloseHandle(process_);
    }

    HWND Dialog() const { return dialog_; }
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }

    // True when the process has ended within `milliseconds`.
    bool Ended(DWORD milliseconds) const {
        return lumtest::WaitFor([&] { return WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }, milliseconds);
    }
    DWORD ExitCode() const {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process_, &code);
        return code;
    }

    std::wstring Text(int id) const {
        std::vector<wchar_t> text(8192);
        GetWindowTextW(Item(id), text.data(), static_cast<int>(text.size()));
        return text.data();
    }
    bool HasPicture(int id) const { return SendMessageW(Item(id), STM_GETIMAGE, IMAGE_BITMAP, 0) != 0; }

    POINT Centre(int id) const {
        RECT rect{};
        GetWindowRect(Item(id), &rect);
        return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }

    // True when the process shows a visible top-level window besides its dialog within
    // `milliseconds` (a message box, an error window of the shell, a started program's window).
    bool ShowsAnotherWindow(DWORD milliseconds) const {
        return lumtest::WaitFor([&] { return OtherVisibleWindow() != nullptr; }, milliseconds);
    }

private:
    HWND OtherVisibleWindow() const {
        struct Search {
            DWORD id;
            HWND dialog;
            HWND found;
        } search{id_, dialog_, nullptr};
        EnumWindows(
            [](HWND window, LPARAM parameter) -> BOOL {
                auto* search = reinterpret_cast<Search*>(parameter);
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                if (owner != search->id || window == search->dialog || !IsWindowVisible(window)) return TRUE;
                search->found = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    HANDLE process_ = nullptr;
    DWORD id_ = 0;
    HWND dialog_ = nullptr;
};

// Real input: the pointer glides there in steps, as a hand moves a mouse (every movement lets
// the dialog's hover walk drop at most one flag), and the left button goes down and up.
void RealClick(POINT screen) {
    POINT from{};
    GetCursorPos(&from);
    constexpr int kSteps = 8;
    for (int step = 1; step <= kSteps; ++step) {
        const int x = from.x + (screen.x - from.x) * step / kSteps;
        const int y = from.y + (screen.y - from.y) * step / kSteps;
        INPUT input{};
        input.type = INPUT_MOUSE;
        input.mi.dx = MulDiv(x, 65536, GetSystemMetrics(SM_CXSCREEN)) + 1;
        input.mi.dy = MulDiv(y, 65536, GetSystemMetrics(SM_CYSCREEN)) + 1;
        input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
        SendInput(1, &input, sizeof input);
        lumtest::PumpMessages(30);
    }
    lumtest::PumpMessages(100);
    for (DWORD button : {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP}) {
        INPUT click{};
        click.type = INPUT_MOUSE;
        click.mi.dwFlags = button;
        SendInput(1, &click, sizeof click);
        lumtest::PumpMessages(100);
    }
    lumtest::PumpMessages(100);
}

void RealKeys(std::initializer_list<std::pair<WORD, bool>> keys) {
    std::vector<INPUT> inputs;
    for (const auto& [key, up] : keys) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Starts an X program against this test's display and waits for it. Wine starts Unix programs
// but hands back no usable process handle, so only the start is reported.
bool RunXProgram(const std::wstring& arguments) {
    wchar_t display[64] = {};
    GetEnvironmentVariableW(L"DISPLAY", display, 64);
    std::wstring commandLine = L"/usr/bin/env DISPLAY=" + std::wstring(display) + L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return true;
}

// The dialog template created hidden in this process: its dialog units convert to pixels as
// in Lumvane.exe, whatever font Wine substitutes.
class TemplateMapper {
public:
    TemplateMapper() {
        dialog_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_OTHER_PRODUCTS), nullptr,
                                     [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    }
    ~TemplateMapper() {
        if (dialog_) DestroyWindow(dialog_);
    }
    HWND Get() const { return dialog_; }

private:
    HWND dialog_ = nullptr;
};

RECT RectInClient(HWND dialog, HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string ToCrLf(const std::string& text) {
    std::string converted;
    for (char c : text) {
        if (c == '\n') converted += '\r';
        converted += c;
    }
    return converted;
}

const char kTwoProducts[] =
    "first.bmp\nFirst product\nZ:\\links\\first\nFirst description\n"
    "second.bmp\nSecond product\nZ:\\links\\second\nSecond description\n";

}  // namespace

TEST(Program, Resources) {
    const std::wstring path = lumtest::LumvanePath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> version(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, version.data()));
    wchar_t* description = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\StringFileInfo\\040904b0\\FileDescription",
                               reinterpret_cast<void**>(&description), &length));
    EXPECT_STREQ(description, L"Setup addon");

    const HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    const HRSRC manifest = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(manifest, nullptr);
    const std::string text(static_cast<const char*>(LockResource(LoadResource(image, manifest))),
                           SizeofResource(image, manifest));
    const size_t controls = text.find("name=\"Microsoft.Windows.Common-Controls\"");
    ASSERT_NE(controls, std::string::npos);
    EXPECT_NE(text.find("version=\"6.0.0.0\"", controls), std::string::npos);
    EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14)), nullptr);  // RT_GROUP_ICON
    EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(139), MAKEINTRESOURCEW(2)), nullptr);   // RT_BITMAP
    EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(103), MAKEINTRESOURCEW(5)), nullptr);   // RT_DIALOG
    FreeLibrary(image);
}

TEST(Program, LayoutCentringAndHeaderBand) {
    TempFolder folder;  // no product file: the template's texts, no pictures
    std::map<int, RECT> expected;
    RECT dialogUnits{0, 0, 330, 222};
    {
        TemplateMapper mapper;
        ASSERT_NE(mapper.Get(), nullptr);
        for (const lumtest::ControlSpec& spec : lumtest::kControls) expected[spec.id] = lumtest::ExpectedPixels(mapper.Get(), spec.units);
        MapDialogRect(mapper.Get(), &dialogUnits);
    }
    LumvaneProcess lumvane(folder.Path());
    const HWND dialog = FindWindowW(nullptr, L"Setup - Other Kestrane! Products");
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog, lumvane.Dialog());

    const auto style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE));
    for (DWORD bit : std::initializer_list<DWORD>{WS_POPUP, WS_CAPTION, WS_SYSMENU, DS_MODALFRAME, DS_SETFOREGROUND})
        EXPECT_EQ(style & bit, bit);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
    EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);
    RECT client{};
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, dialogUnits.right);
    EXPECT_EQ(client.bottom, dialogUnits.bottom);

    // Centred by integer halving of the desktop's and the window's sizes.
    RECT desktop{}, window{};
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(dialog, &window);
    EXPECT_EQ(window.left, desktop.left + (desktop.right - desktop.left) / 2 - (window.right - window.left) / 2);
    EXPECT_EQ(window.top, desktop.top + (desktop.bottom - desktop.top) / 2 - (window.bottom - window.top) / 2);
    EXPECT_TRUE(lumtest::WaitFor([&] { return GetForegroundWindow() == dialog; }, 3000));

    std::vector<HWND> children;
    EnumChildWindows(
        dialog, [](HWND child, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    ASSERT_EQ(children.size(), 12u);
    std::vector<int> seen;
    for (HWND child : children) {
        const int id = GetDlgCtrlID(child);
        SCOPED_TRACE(id);
        seen.push_back(id);
        const lumtest::ControlSpec* spec = lumtest::FindControlSpec(id);
        ASSERT_NE(spec, nullptr);
        wchar_t className[64] = {};
        GetClassNameW(child, className, 64);
        EXPECT_EQ(_wcsicmp(className, spec->className), 0) << className;

        const DWORD childStyle = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
        const DWORD childExStyle = static_cast<DWORD>(GetWindowLongW(child, GWL_EXSTYLE));
        EXPECT_EQ(childStyle & (WS_CHILD | WS_VISIBLE), static_cast<DWORD>(WS_CHILD | WS_VISIBLE));
        if (spec->id == IDCANCEL) {
            EXPECT_EQ(childStyle & BS_TYPEMASK, spec->kind);
            EXPECT_TRUE(childStyle & WS_TABSTOP);
        } else {
            EXPECT_EQ(childStyle & SS_TYPEMASK, spec->kind);
            EXPECT_EQ((childStyle & SS_SUNKEN) != 0, spec->sunken);
            EXPECT_EQ((childStyle & SS_REALSIZEIMAGE) != 0, spec->realSizeImage);
        }
        // A dialog turns a child's WS_BORDER into a client edge.
        EXPECT_EQ((childStyle & WS_BORDER) != 0 || (childExStyle & WS_EX_CLIENTEDGE) != 0, spec->border);
        if (spec->text) {
            wchar_t text[256] = {};
            GetWindowTextW(child, text, 256);
            EXPECT_STREQ(text, spec->text);
        }

        const RECT actual = RectInClient(dialog, child);
        const RECT& wanted = expected[id];
        EXPECT_EQ(actual.left, wanted.left);
        EXPECT_EQ(actual.top, wanted.top);
        if (spec->sizedByImage) {  // the logo's static takes the bitmap's 55 x 55 pixels
            EXPECT_EQ(actual.right - actual.left, 55);
            EXPECT_EQ(actual.bottom - actual.top, 55);
        } else {
            EXPECT_EQ(actual.right, wanted.right);
            EXPECT_EQ(actual.bottom, wanted.bottom);
        }
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end()) << "ids are unique";
    EXPECT_TRUE(lumvane.HasPicture(1008));
    EXPECT_FALSE(lumvane.HasPicture(1079));
    EXPECT_FALSE(lumvane.HasPicture(1080));

    // The header band is in the window colour down to the separator; below it the dialog's.
    const RECT separator = RectInClient(dialog, lumvane.Item(1009));
    auto screenColour = [&](int x, int y) {
        POINT point{x, y};
        ClientToScreen(dialog, &point);
        const HDC screen = GetDC(nullptr);
        const COLORREF colour = GetPixel(screen, point.x, point.y);
        ReleaseDC(nullptr, screen);
        return colour;
    };
    const int bandRight = RectInClient(dialog, lumvane.Item(1008)).left - 2;
    const std::vector<POINT> inBand = {{0, 0}, {2, 2}, {bandRight, 1}, {3, separator.top - 1}, {bandRight, separator.top - 1}};
    EXPECT_TRUE(lumtest::WaitFor(
        [&] {
            return std::all_of(inBand.begin(), inBand.end(),
                               [&](POINT p) { return screenColour(p.x, p.y) == GetSysColor(COLOR_WINDOW); });
        },
        3000));
    for (POINT p : inBand) EXPECT_EQ(screenColour(p.x, p.y), GetSysColor(COLOR_WINDOW)) << p.x << "," << p.y;
    EXPECT_EQ(screenColour(3, separator.bottom + 3), GetSysColor(COLOR_3DFACE));
    EXPECT_EQ(screenColour(client.right - 3, client.bottom - 3), GetSysColor(COLOR_3DFACE));

    PostMessageW(lumvane.Item(IDCANCEL), BM_CLICK, 0, 0);
    ASSERT_TRUE(lumvane.Ended(5000));
    EXPECT_EQ(lumvane.ExitCode(), 0u);
}

namespace {

struct ProductFileCase {
    const char* name;
    std::optional<std::string> productFile;
    std::array<std::wstring, 4> texts;  // 1000, 1081, 1001, 1082
    std::array<bool, 2> pictures;
    std::array<std::wstring, 2> links;
};

std::vector<ProductFileCase> ProductFileCases() {
    const std::string title1023(1023, 'T');
    const std::string description5000 = std::string(5000, 'D');
    std::vector<ProductFileCase> cases = {
        {"LF", kTwoProducts,
         {L"First product", L"First description", L"Second product", L"Second description"}, {true, true},
         {L"Z:\\links\\first", L"Z:\\links\\second"}},
        {"CR LF", ToCrLf(kTwoProducts),
         {L"First product", L"First description", L"Second product", L"Second description"}, {true, true},
         {L"Z:\\links\\first", L"Z:\\links\\second"}},
        {"tab in a title", "first.bmp\nWord\tafter the tab\nZ:\\l\nDesc\tcut\n",
         {L"Word", L"Desc", L"title2", L"desc2"}, {true, false}, {L"Z:\\l", L""}},
        {"lines of 1023 and 5000", "first.bmp\n" + title1023 + "\r\nZ:\\l1\r\n" + description5000 +
                                       "\r\nsecond.bmp\r\nSecond product\r\nZ:\\l2\r\nlast\r\n",
         {std::wstring(1023, L'T'), std::wstring(1023, L'D'), L"Second product", L"last"}, {true, true},
         {L"Z:\\l1", L"Z:\\l2"}},
        {"three lines", "first.bmp\nOnly product\nZ:\\only\n",
         {L"Only product", L"desc1", L"title2", L"desc2"}, {true, false}, {L"Z:\\only", L""}},
        {"no file", std::nullopt, {L"title1", L"desc1", L"title2", L"desc2"}, {false, false}, {L"", L""}},
        {"empty file", "", {L"title1", L"desc1", L"title2", L"desc2"}, {false, false}, {L"", L""}},
        {"UTF-8 with byte-order mark", "\xEF\xBB\xBF" "first.bmp\nCaf\xC3\xA9 \xE2\x82\xAC\nZ:\\caf\xC3\xA9\n",
         {L"Caf\u00e9 \u20ac", L"desc1", L"title2", L"desc2"}, {true, false}, {L"Z:\\caf\u00e9", L""}},
        {"missing and not a bitmap", "missing.bmp\nA\nZ:\\a\nB\nnot-a-bitmap.bmp\nC\nZ:\\c\nD\n",
         {L"A", L"B", L"C", L"D"}, {false, false}, {L"Z:\\a", L"Z:\\c"}},
        {"picture line empty, picture file empty", "\nA\n\nB\nempty.bmp\nC\nZ:\\c\n\n",
         {L"A", L"B", L"C", L""}, {false, false}, {L"", L"Z:\\c"}},
    };
    // Windows-1252 "é": ANSI text without a byte-order mark.
    wchar_t ansi[8] = {};
    const int count = MultiByteToWideChar(CP_ACP, 0, "Caf\xE9", 4, ansi, 8);
    cases.push_back({"Windows-1252", std::string("first.bmp\nCaf\xE9\n"), {std::wstring(ansi, count), L"desc1", L"title2", L"desc2"},
                     {true, false}, {L"", L""}});
    if (GetACP() == 1252) {
        EXPECT_EQ(cases.back().texts[0], L"Caf\u00e9");
    }
    return cases;
}

void PrepareFolder(const TempFolder& folder, const std::optional<std::string>& productFile) {
    folder.Write(L"first.bmp", lumtest::BitmapFile(40, 30, RGB(200, 0, 0)));
    folder.Write(L"second.bmp", lumtest::BitmapFile(70, 60, RGB(0, 200, 0)));
    folder.Write(L"empty.bmp", "");
    folder.Write(L"not-a-bitmap.bmp", "BM this is not a bitmap at all");
    if (productFile) folder.Write(L"Lumvane.ini", *productFile);
}

void NoOpener(const std::wstring&, int, void*) {}

}  // namespace

TEST(Program, ProductFiles) {
    constexpr int kTexts[4] = {1000, 1081, 1001, 1082};
    for (const ProductFileCase& c : ProductFileCases()) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        PrepareFolder(folder, c.productFile);
        {
            LumvaneProcess lumvane(folder.Path());
            ASSERT_NE(lumvane.Dialog(), nullptr);
            for (size_t index = 0; index < 4; ++index) EXPECT_EQ(lumvane.Text(kTexts[index]), c.texts[index]) << kTexts[index];
            EXPECT_EQ(lumvane.HasPicture(1079), c.pictures[0]);
            EXPECT_EQ(lumvane.HasPicture(1080), c.pictures[1]);
            PostMessageW(lumvane.Item(IDCANCEL), BM_CLICK, 0, 0);
            ASSERT_TRUE(lumvane.Ended(5000));
            EXPECT_EQ(lumvane.ExitCode(), 0u);
        }
        // The links, which only the dialog holds, from the same folder in this process.
        lumtest::CurrentDirectory inFolder(folder.Path());
        const HWND dialog = lumvane::CreateModelessDialog(GetModuleHandleW(nullptr), nullptr, NoOpener, nullptr);
        ASSERT_NE(dialog, nullptr);
        lumvane::DialogSnapshot snapshot;
        ASSERT_TRUE(lumvane::GetDialogSnapshot(dialog, snapshot));
        EXPECT_EQ(snapshot.links, c.links);
        DestroyWindow(dialog);
    }
}

TEST(Program, DamagedProductFileAndPictures) {
    std::mt19937 random(7);
    auto randomBytes = [&](size_t count) {
        std::string bytes(count, '\0');
        for (char& byte : bytes) byte = static_cast<char>(random() % 256);
        return bytes;
    };
    const std::string bitmap = lumtest::BitmapFile(40, 30, RGB(1, 2, 3));
    const std::string productFiles[] = {
        randomBytes(7000),
        "random.bmp\nA\n\nB\ntruncated.bmp\nC\n\nD\n",
    };
    for (const std::string& productFile : productFiles) {
        TempFolder folder;
        PrepareFolder(folder, productFile);
        folder.Write(L"random.bmp", "BM" + randomBytes(3000));
        folder.Write(L"truncated.bmp", bitmap.substr(0, 60));  // a header promising pixels that never come
        LumvaneProcess lumvane(folder.Path());
        ASSERT_NE(lumvane.Dialog(), nullptr);
        for (int id : {1000, 1081, 1001, 1082}) {
            const std::wstring text = lumvane.Text(id);
            EXPECT_LE(text.size(), 1023u);
            EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= 32; }));
        }
        PostMessageW(lumvane.Item(IDCANCEL), BM_CLICK, 0, 0);
        ASSERT_TRUE(lumvane.Ended(5000));
        EXPECT_EQ(lumvane.ExitCode(), 0u);
    }
}

TEST(Program, ClicksStartTheLinks) {
    lumtest::RecorderFolder records;
    lumtest::HtmClassOverride htm(L"LumvaneTest.recorder", L"\"" + lumtest::RecorderPath() + L"\" \"%1\"");
    ASSERT_TRUE(htm.Ok());
    const std::wstring spaced = L"Z:\\lumvane no such folder\\product page";
    std::wstring long1023 = L"Z:\\lumvane missing\\";
    while (long1023.size() < 1023) long1023 += L"seg ment ";
    long1023.resize(1023);
    const auto narrow = [](const std::wstring& text) { return std::string(text.begin(), text.end()); };

    {
        // The shell starts a program by its path; what it cannot open goes to the ".htm" command.
        TempFolder folder;
        PrepareFolder(folder, "first.bmp\nRecorder\n" + narrow(lumtest::RecorderPath()) + "\nd\nsecond.bmp\nSpaced\n" +
                                  narrow(spaced) + "\nd\n");
        LumvaneProcess lumvane(folder.Path());
        ASSERT_NE(lumvane.Dialog(), nullptr);
        RealClick(lumvane.Centre(1079));
        ASSERT_TRUE(records.WaitForRecords(1, 10000));
        EXPECT_EQ(records.Records()[0], std::vector<std::wstring>{});
        RealClick(lumvane.Centre(1001));
        ASSERT_TRUE(records.WaitForRecords(2, 10000));
        const auto all = records.Records();
        EXPECT_TRUE(std::find(all.begin(), all.end(), std::vector<std::wstring>{spaced}) != all.end());
        EXPECT_FALSE(lumvane.ShowsAnotherWindow(1000));
    }
    {
        // A link of 1023 characters arrives whole; one holding a quote starts nothing and shows nothing.
        TempFolder folder;
        const std::string quoted = "Z:\\lumvane\" \"injected";
        PrepareFolder(folder, "first.bmp\nLong\n" + narrow(long1023) + "\nd\nsecond.bmp\nQuoted\n" + quoted + "\nd\n");
        LumvaneProcess lumvane(folder.Path());
        ASSERT_NE(lumvane.Dialog(), nullptr);
        RealClick(lumvane.Centre(1000));
        ASSERT_TRUE(records.WaitForRecords(3, 10000));
        const auto all = records.Records();
        EXPECT_TRUE(std::find(all.begin(), all.end(), std::vector<std::wstring>{long1023}) != all.end());

        RealClick(lumvane.Centre(1080));
        EXPECT_FALSE(lumvane.ShowsAnotherWindow(2000));
        EXPECT_EQ(records.Records().size(), 3u);
    }
}

TEST(Program, ALinkNothingOpensDoesNothingVisible) {
    lumtest::RecorderFolder records;
    lumtest::HtmClassOverride htm(L"LumvaneTest.nocommand", std::nullopt);
    ASSERT_TRUE(htm.Ok());
    TempFolder folder;
    PrepareFolder(folder, "first.bmp\nNowhere\nZ:\\lumvane nowhere\\page\nd\nsecond.bmp\nEmpty link\n\nd\n");
    LumvaneProcess lumvane(folder.Path());
    ASSERT_NE(lumvane.Dialog(), nullptr);

    // Neither an empty link nor one that the shell and the browser both fail on opens a window.
    RealClick(lumvane.Centre(1001));
    EXPECT_FALSE(lumvane.ShowsAnotherWindow(1000));
    RealClick(lumvane.Centre(1079));
    EXPECT_FALSE(lumvane.ShowsAnotherWindow(2000));
    EXPECT_TRUE(records.Records().empty());
    // Still running and closable.
    PostMessageW(lumvane.Item(IDCANCEL), BM_CLICK, 0, 0);
    ASSERT_TRUE(lumvane.Ended(5000));
    EXPECT_EQ(lumvane.ExitCode(), 0u);
}

TEST(Program, CloseButtonEscapeAndSystemMenuEndWithZero) {
    TempFolder folder;
    PrepareFolder(folder, kTwoProducts);
    {
        LumvaneProcess lumvane(folder.Path());
        ASSERT_NE(lumvane.Dialog(), nullptr);
        RealClick(lumvane.Centre(IDCANCEL));
        ASSERT_TRUE(lumvane.Ended(5000));
        EXPECT_EQ(lumvane.ExitCode(), 0u);
    }
    {
        LumvaneProcess lumvane(folder.Path());
        ASSERT_NE(lumvane.Dialog(), nullptr);
        ASSERT_TRUE(lumtest::WaitFor([&] { return GetForegroundWindow() == lumvane.Dialog(); }, 3000));
        // X's keyboard focus onto the dialog's window, then the key.
        EXPECT_TRUE(RunXProgram(
            L"/usr/bin/xdotool search --name \"^Setup - Other Kestrane! Products$\" windowfocus --sync key Escape"));
        ASSERT_TRUE(lumvane.Ended(5000));
        EXPECT_EQ(lumvane.ExitCode(), 0u);
    }
    {
        LumvaneProcess lumvane(folder.Path());
        ASSERT_NE(lumvane.Dialog(), nullptr);
        ASSERT_TRUE(lumtest::WaitFor([&] { return GetForegroundWindow() == lumvane.Dialog(); }, 3000));
        // Alt+Space opens the system menu, C chooses Close.
        RealKeys({{VK_MENU, false}, {VK_SPACE, false}, {VK_SPACE, true}, {VK_MENU, true}});
        const bool menuOpened = lumtest::WaitFor([] { return FindWindowW(L"#32768", nullptr) != nullptr; }, 3000);
        EXPECT_TRUE(menuOpened);
        RealKeys({{'C', false}, {'C', true}});
        ASSERT_TRUE(lumvane.Ended(5000));
        EXPECT_EQ(lumvane.ExitCode(), 0u);
    }
}
