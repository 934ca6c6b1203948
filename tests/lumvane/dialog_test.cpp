// The dialog in this process (modeless, from the library): fonts, colours along the hover walk,
// clicks, pictures and what closing frees.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "lumvane.h"
#include "test_support.h"

namespace {

struct OpenedLinks {
    std::vector<std::wstring> links;
    std::vector<int> showModes;
};

void RecordingOpener(const std::wstring& link, int showMode, void* context) {
    auto* opened = static_cast<OpenedLinks*>(context);
    opened->links.push_back(link);
    opened->showModes.push_back(showMode);
}

struct LogicalFont {
    std::wstring face;
    LONG height = 0;
    LONG weight = 0;
};

LogicalFont Describe(HFONT font) {
    LOGFONTW description{};
    LogicalFont result;
    if (!font || GetObjectW(font, sizeof description, &description) != sizeof description) return result;
    result.face = description.lfFaceName;
    result.height = description.lfHeight;
    result.weight = description.lfWeight;
    return result;
}

struct StaticColours {
    COLORREF text;
    COLORREF background;
    HBRUSH brush;
};

const char kTwoProducts[] =
    "first.bmp\nFirst product\nZ:\\links\\first product\nFirst description\n"
    "second.bmp\nSecond product\nZ:\\links\\second product\nSecond description\n";

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.Write(L"first.bmp", lumtest::BitmapFile(40, 30, RGB(200, 0, 0)));
        folder_.Write(L"second.bmp", lumtest::BitmapFile(70, 60, RGB(0, 200, 0)));
    }
    void TearDown() override {
        if (dialog_ && IsWindow(dialog_)) DestroyWindow(dialog_);
        lumtest::PumpMessages(50);
    }

    void Open(std::string_view productFile) {
        folder_.Write(L"Lumvane.ini", productFile);
        lumtest::CurrentDirectory inFolder(folder_.Path());
        dialog_ = lumvane::CreateModelessDialog(GetModuleHandleW(nullptr), nullptr, RecordingOpener, &opened_);
        ASSERT_NE(dialog_, nullptr);
        lumtest::PumpMessages(100);
    }

    HWND Item(int id) const { return GetDlgItem(dialog_, id); }

    POINT Centre(int id) const {
        RECT rect{};
        GetWindowRect(Item(id), &rect);
        return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }
    RECT WindowRect(int id) const {
        RECT rect{};
        GetWindowRect(Item(id), &rect);
        return rect;
    }
    // A point of the client area outside every picture and title.
    POINT EmptyArea() const { return lumtest::DialogPoint(dialog_, dialog_, 5, 118); }

    LPARAM ClientLParam(POINT screen) const {
        ScreenToClient(dialog_, &screen);
        return MAKELPARAM(screen.x, screen.y);
    }
    // The pointer goes there and the dialog hears of it, as from a real movement.
    void MoveTo(POINT screen) {
        SetCursorPos(screen.x, screen.y);
        SendMessageW(dialog_, WM_MOUSEMOVE, 0, ClientLParam(screen));
        SendMessageW(dialog_, WM_SETCURSOR, reinterpret_cast<WPARAM>(dialog_), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    }
    void ClickAt(POINT screen) {
        SetCursorPos(screen.x, screen.y);
        SendMessageW(dialog_, WM_LBUTTONDOWN, MK_LBUTTON, ClientLParam(screen));
        SendMessageW(dialog_, WM_LBUTTONUP, 0, ClientLParam(screen));
    }

    // What the dialog answers to a static control's colour request, painted into a memory DC
    // that starts with colours it would not choose.
    StaticColours ColoursOf(int id) const {
        StaticColours colours{};
        const HDC memory = CreateCompatibleDC(nullptr);
        SetTextColor(memory, RGB(1, 2, 3));
        SetBkColor(memory, RGB(4, 5, 6));
        colours.brush = reinterpret_cast<HBRUSH>(
            SendMessageW(dialog_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(memory), reinterpret_cast<LPARAM>(Item(id))));
        colours.text = GetTextColor(memory);
        colours.background = GetBkColor(memory);
        DeleteDC(memory);
        return colours;
    }
    COLORREF TitleColour(int id) const { return ColoursOf(id).text; }

    lumvane::DialogSnapshot Snapshot() const {
        lumvane::DialogSnapshot snapshot;
        EXPECT_TRUE(lumvane::GetDialogSnapshot(dialog_, snapshot));
        return snapshot;
    }

    lumtest::TempFolder folder_;
    OpenedLinks opened_;
    HWND dialog_ = nullptr;
};

constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);

}  // namespace

TEST_F(DialogTest, FontsIconAndPicturesAtNaturalSize) {
    Open(kTwoProducts);
    const auto title1 = reinterpret_cast<HFONT>(SendMessageW(Item(1000), WM_GETFONT, 0, 0));
    const auto title2 = reinterpret_cast<HFONT>(SendMessageW(Item(1001), WM_GETFONT, 0, 0));
    const auto heading = reinterpret_cast<HFONT>(SendMessageW(Item(1084), WM_GETFONT, 0, 0));
    EXPECT_EQ(title1, title2);
    const LogicalFont titleFont = Describe(title1);
    EXPECT_EQ(titleFont.face, L"Verdana");
    EXPECT_EQ(titleFont.height, 16);
    EXPECT_EQ(titleFont.weight, 1000);
    const LogicalFont headingFont = Describe(heading);
    EXPECT_EQ(headingFont.face, L"Arial");
    EXPECT_EQ(headingFont.height, 14);
    EXPECT_EQ(headingFont.weight, 1000);
    // The rest keep the dialog's own font.
    const auto dialogFont = SendMessageW(dialog_, WM_GETFONT, 0, 0);
    EXPECT_EQ(SendMessageW(Item(1081), WM_GETFONT, 0, 0), dialogFont);
    EXPECT_EQ(SendMessageW(Item(1007), WM_GETFONT, 0, 0), dialogFont);

    const auto icon = reinterpret_cast<HICON>(SendMessageW(dialog_, WM_GETICON, ICON_BIG, 0));
    ICONINFO iconInfo{};
    ASSERT_TRUE(GetIconInfo(icon, &iconInfo));
    BITMAP iconBitmap{};
    GetObjectW(iconInfo.hbmColor, sizeof iconBitmap, &iconBitmap);
    EXPECT_EQ(iconBitmap.bmWidth, GetSystemMetrics(SM_CXICON));
    DeleteObject(iconInfo.hbmColor);
    DeleteObject(iconInfo.hbmMask);

    const std::pair<int, SIZE> pictures[] = {{1079, {40, 30}}, {1080, {70, 60}}};
    for (const auto& [id, size] : pictures) {
        const auto bitmap = reinterpret_cast<HBITMAP>(SendMessageW(Item(id), STM_GETIMAGE, IMAGE_BITMAP, 0));
        BITMAP picture{};
        ASSERT_EQ(GetObjectW(bitmap, sizeof picture, &picture), static_cast<int>(sizeof picture)) << id;
        EXPECT_EQ(picture.bmWidth, size.cx) << id;
        EXPECT_EQ(picture.bmHeight, size.cy) << id;
    }
    const auto logo = reinterpret_cast<HBITMAP>(SendMessageW(Item(1008), STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP logoBitmap{};
    ASSERT_EQ(GetObjectW(logo, sizeof logoBitmap, &logoBitmap), static_cast<int>(sizeof logoBitmap));
    EXPECT_EQ(logoBitmap.bmWidth, 55);
    EXPECT_EQ(logoBitmap.bmHeight, 55);
    // The resource itself is a 24-bit bitmap (the control may hold it in the screen's format).
    const HRSRC logoResource = FindResourceW(nullptr, MAKEINTRESOURCEW(139), MAKEINTRESOURCEW(2));
    ASSERT_NE(logoResource, nullptr);
    const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, logoResource)));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->biWidth, 55);
    EXPECT_EQ(header->biHeight, 55);
    EXPECT_EQ(header->biBitCount, 24);

    const lumvane::DialogSnapshot snapshot = Snapshot();
    EXPECT_EQ(snapshot.links[0], L"Z:\\links\\first product");
    EXPECT_EQ(snapshot.links[1], L"Z:\\links\\second product");
    EXPECT_NE(snapshot.handCursor, nullptr);
    EXPECT_NE(snapshot.arrowCursor, nullptr);
    EXPECT_NE(snapshot.handCursor, snapshot.arrowCursor);
}

TEST_F(DialogTest, StaticColourTable) {
    Open(kTwoProducts);
    const HBRUSH face = GetSysColorBrush(COLOR_3DFACE);
    const HBRUSH window = GetSysColorBrush(COLOR_WINDOW);
    const std::tuple<int, HBRUSH, int> table[] = {
        {1000, face, COLOR_3DFACE}, {1001, face, COLOR_3DFACE},    {1081, face, COLOR_3DFACE},
        {1082, face, COLOR_3DFACE}, {1084, window, COLOR_WINDOW}, {1007, window, COLOR_WINDOW},
    };
    for (const auto& [id, brush, colour] : table) {
        const StaticColours colours = ColoursOf(id);
        EXPECT_EQ(colours.text, kBlack) << id;
        EXPECT_EQ(colours.background, GetSysColor(colour)) << id;
        EXPECT_EQ(colours.brush, brush) << id;
    }
}

// The walk over pictures and titles, as a user moves from the first title straight onto the
// first picture and away.
TEST_F(DialogTest, HoverWalk) {
    Open(kTwoProducts);
    MoveTo(EmptyArea());
    const HCURSOR hand = Snapshot().handCursor;
    const HCURSOR arrow = Snapshot().arrowCursor;
    EXPECT_EQ(Snapshot().hover, (std::array<bool, 4>{false, false, false, false}));

    MoveTo(Centre(1000));
    EXPECT_EQ(Snapshot().hover, (std::array<bool, 4>{false, false, true, false}));
    EXPECT_EQ(TitleColour(1000), kBlue);
    EXPECT_EQ(TitleColour(1001), kBlack);
    EXPECT_EQ(GetCursor(), hand);
    EXPECT_EQ(GetCapture(), dialog_);

    // Onto the picture: its flag is set, the title's stays.
    MoveTo(Centre(1079));
    EXPECT_EQ(Snapshot().hover, (std::array<bool, 4>{true, false, true, false}));
    EXPECT_EQ(TitleColour(1000), kBlue);
    EXPECT_EQ(GetCursor(), hand);

    // Away: the first movement clears the picture (arrow), the next one the title.
    MoveTo(EmptyArea());
    EXPECT_EQ(Snapshot().hover, (std::array<bool, 4>{false, false, true, false}));
    EXPECT_EQ(GetCursor(), arrow);
    EXPECT_EQ(TitleColour(1000), kBlue);
    EXPECT_EQ(GetCapture(), dialog_);  // a flag is still set
    MoveTo(EmptyArea());
    EXPECT_EQ(Snapshot().hover, (std::array<bool, 4>{false, false, false, false}));
    EXPECT_EQ(TitleColour(1000), kBlack);
    EXPECT_EQ(GetCapture(), nullptr);

    // Edges are outside: the picture's top-left border pixel does not count.
    const RECT second = WindowRect(1080);
    for (POINT edge : {POINT{second.left, second.top + 5}, POINT{second.left + 5, second.top}}) {
        MoveTo(edge);
        EXPECT_EQ(Snapshot().hover, (std::array<bool, 4>{false, false, false, false})) << edge.x << "," << edge.y;
    }
    MoveTo({second.left + 1, second.top + 1});
    EXPECT_EQ(Snapshot().hover, (std::array<bool, 4>{false, true, false, false}));

    // From the second picture onto the second title takes two movements: leaving the picture
    // is handled first.
    MoveTo(Centre(1001));
    EXPECT_EQ(Snapshot().hover, (std::array<bool, 4>{false, false, false, false}));
    EXPECT_EQ(TitleColour(1001), kBlack);
    MoveTo(Centre(1001));
    EXPECT_EQ(Snapshot().hover, (std::array<bool, 4>{false, false, false, true}));
    EXPECT_EQ(TitleColour(1001), kBlue);
    EXPECT_EQ(TitleColour(1000), kBlack);
    EXPECT_EQ(GetCursor(), hand);

    // Clicks leave the flags as they are.
    ClickAt(Centre(1001));
    EXPECT_EQ(Snapshot().hover, (std::array<bool, 4>{false, false, false, true}));
    MoveTo(EmptyArea());
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(DialogTest, ClicksOpenTheRightLinks) {
    Open(kTwoProducts);
    const RECT first = WindowRect(1079);
    ClickAt({first.left, (first.top + first.bottom) / 2});  // border pixels
    ClickAt({(first.left + first.right) / 2, first.top});
    ClickAt(EmptyArea());
    ClickAt(Centre(1081));  // a description is not a link
    ClickAt(Centre(IDCANCEL));
    EXPECT_TRUE(opened_.links.empty());

    ClickAt({first.left + 1, first.top + 1});
    ClickAt(Centre(1000));
    ClickAt(Centre(1080));
    ClickAt(Centre(1001));
    const std::wstring link1 = L"Z:\\links\\first product";
    const std::wstring link2 = L"Z:\\links\\second product";
    EXPECT_EQ(opened_.links, (std::vector<std::wstring>{link1, link1, link2, link2}));
    EXPECT_EQ(opened_.showModes, (std::vector<int>{SW_SHOW, SW_SHOW, SW_SHOW, SW_SHOW}));
}

TEST_F(DialogTest, ClosingFreesEverythingItCreated) {
    for (const bool byCloseButton : {true, false}) {
        SCOPED_TRACE(byCloseButton ? "Close button" : "WM_CLOSE");
        Open(kTwoProducts);
        MoveTo(Centre(1079));  // the hand cursor is current while closing
        const lumvane::DialogSnapshot snapshot = Snapshot();
        std::vector<HGDIOBJ> objects = {
            reinterpret_cast<HGDIOBJ>(SendMessageW(Item(1000), WM_GETFONT, 0, 0)),
            reinterpret_cast<HGDIOBJ>(SendMessageW(Item(1084), WM_GETFONT, 0, 0)),
            reinterpret_cast<HGDIOBJ>(SendMessageW(Item(1079), STM_GETIMAGE, IMAGE_BITMAP, 0)),
            reinterpret_cast<HGDIOBJ>(SendMessageW(Item(1080), STM_GETIMAGE, IMAGE_BITMAP, 0)),
        };
        const auto icon = reinterpret_cast<HICON>(SendMessageW(dialog_, WM_GETICON, ICON_BIG, 0));
        for (HGDIOBJ object : objects) ASSERT_NE(GetObjectType(object), 0u);

        if (byCloseButton) SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(Item(IDCANCEL)));
        else SendMessageW(dialog_, WM_CLOSE, 0, 0);
        ASSERT_TRUE(lumtest::WaitFor([&] { return !IsWindow(dialog_); }, 3000));

        for (HGDIOBJ object : objects) EXPECT_EQ(GetObjectType(object), 0u);
        for (HICON handle : {icon, snapshot.handCursor, snapshot.arrowCursor}) {
            ICONINFO info{};
            EXPECT_FALSE(GetIconInfo(handle, &info));
        }
        EXPECT_NE(GetCursor(), snapshot.handCursor);
        dialog_ = nullptr;
    }
}
