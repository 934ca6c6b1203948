#include "lumvane.h"

#include <windowsx.h>

#include <memory>
#include <optional>
#include <vector>

#include "handles.h"
#include "link_opener.h"
#include "product_file.h"
#include "resource.h"

namespace lumvane {

namespace {

// The hover walk visits the controls in this order; the flags follow it.
constexpr std::array<int, 4> kHoverControls = {IDC_PICTURE1, IDC_PICTURE2, IDC_TITLE1, IDC_TITLE2};
constexpr size_t kHoverFirstTitle = 2;
constexpr size_t kHoverSecondTitle = 3;

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kHoverBlue = RGB(0, 0, 255);

struct DialogParameters {
    LinkOpener opener;
    void* openerContext;
    bool modeless;
};

struct DialogState {
    LinkOpener opener = nullptr;
    void* openerContext = nullptr;
    bool modeless = false;

    std::array<bool, 4> hover{};
    Cursor handCursor;
    Cursor arrowCursor;
    GdiObject titleFont;
    GdiObject headingFont;
    Icon icon;
    std::array<GdiObject, 2> pictures;
    std::array<std::wstring, 2> links;
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

DialogState* StateOf(HWND dialog) { return reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER)); }

std::wstring WindowsDirectory() {
    const UINT needed = GetWindowsDirectoryW(nullptr, 0);
    if (needed == 0) return {};
    std::vector<wchar_t> buffer(needed);
    const UINT length = GetWindowsDirectoryW(buffer.data(), needed);
    if (length == 0 || length >= needed) return {};
    return std::wstring(buffer.data(), length);
}

// The pointing hand: winhlp32.exe's cursor 106, read from the file as data (none of its code
// runs), else a copy of the system's hand, else of its arrow; never null while the system has
// cursors at all.
HCURSOR LoadHandCursor() {
    const std::wstring directory = WindowsDirectory();
    if (!directory.empty()) {
        const std::wstring path = directory + L"\\winhlp32.exe";
        Module help(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        if (help) {
            // Not shared: the cursor is a copy that outlives the module.
            HANDLE cursor = LoadImageW(help.Get(), MAKEINTRESOURCEW(WINHLP32_HAND_CURSOR), IMAGE_CURSOR, 0, 0,
                                       LR_DEFAULTSIZE);
            if (cursor) return static_cast<HCURSOR>(cursor);
        }
    }
    if (HCURSOR hand = CopyIcon(LoadCursorW(nullptr, IDC_HAND))) return hand;
    return CopyIcon(LoadCursorW(nullptr, IDC_ARROW));
}

HFONT CreateBoldFont(int height, const wchar_t* face) {
    return CreateFontW(height, 0, 0, 0, 1000, 0, 0, 0, 0, 0, 0, 0, 0, face);
}

void CentreOnDesktop(HWND dialog) {
    RECT desktop{};
    RECT window{};
    if (!GetWindowRect(GetDesktopWindow(), &desktop) || !GetWindowRect(dialog, &window)) return;
    const int left = desktop.left + (desktop.right - desktop.left) / 2 - (window.right - window.left) / 2;
    const int top = desktop.top + (desktop.bottom - desktop.top) / 2 - (window.bottom - window.top) / 2;
    SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowPicture(HWND dialog, int controlId, const std::wstring& fileName, GdiObject& picture) {
    if (fileName.empty()) return;
    HANDLE bitmap = LoadImageW(nullptr, fileName.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
    if (!bitmap) return;
    picture.Reset(bitmap);
    SendDlgItemMessageW(dialog, controlId, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
}

// Applies the lines the product file has; a missing line leaves its control as the template
// made it and its link empty.
void ApplyProductLines(HWND dialog, DialogState& state, const ProductLines& lines) {
    struct Product {
        size_t picture, title, link, description;
        int pictureId, titleId, descriptionId;
    };
    static constexpr Product kProducts[2] = {
        {kFirstPicture, kFirstTitle, kFirstLink, kFirstDescription, IDC_PICTURE1, IDC_TITLE1, IDC_DESCRIPTION1},
        {kSecondPicture, kSecondTitle, kSecondLink, kSecondDescription, IDC_PICTURE2, IDC_TITLE2, IDC_DESCRIPTION2},
    };
    for (size_t index = 0; index < 2; ++index) {
        const Product& product = kProducts[index];
        if (lines[product.picture]) ShowPicture(dialog, product.pictureId, *lines[product.picture], state.pictures[index]);
        if (lines[product.title]) SetDlgItemTextW(dialog, product.titleId, lines[product.title]->c_str());
        if (lines[product.link]) state.links[index] = *lines[product.link];
        if (lines[product.description])
            SetDlgItemTextW(dialog, product.descriptionId, lines[product.description]->c_str());
    }
}

void Initialise(HWND dialog, DialogState& state) {
    state.handCursor.Reset(LoadHandCursor());
    state.arrowCursor.Reset(CopyIcon(LoadCursorW(nullptr, IDC_ARROW)));
    SetCursor(state.arrowCursor.Get());

    state.titleFont.Reset(CreateBoldFont(16, L"Verdana"));
    state.headingFont.Reset(CreateBoldFont(14, L"Arial"));
    if (state.titleFont) {
        const auto titleFont = reinterpret_cast<WPARAM>(state.titleFont.Get());
        SendDlgItemMessageW(dialog, IDC_TITLE1, WM_SETFONT, titleFont, FALSE);
        SendDlgItemMessageW(dialog, IDC_TITLE2, WM_SETFONT, titleFont, FALSE);
        if (state.headingFont)
            SendDlgItemMessageW(dialog, IDC_HEADING, WM_SETFONT, reinterpret_cast<WPARAM>(state.headingFont.Get()),
                                FALSE);
    }

    const auto module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
    state.icon.Reset(static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDI_LUMVANE), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0)));
    if (state.icon) SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(state.icon.Get()));

    CentreOnDesktop(dialog);

    if (const std::optional<ProductLines> lines = ReadProductFile(kProductFileName)) {
        ApplyProductLines(dialog, state, *lines);
    }
}

// Detaches everything the dialog created from its controls, then frees it.
void ReleaseResources(HWND dialog, DialogState& state) {
    const HCURSOR current = GetCursor();
    if (current && (current == state.handCursor.Get() || current == state.arrowCursor.Get())) {
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    }
    if (GetCapture() == dialog) ReleaseCapture();
    SendDlgItemMessageW(dialog, IDC_PICTURE1, STM_SETIMAGE, IMAGE_BITMAP, 0);
    SendDlgItemMessageW(dialog, IDC_PICTURE2, STM_SETIMAGE, IMAGE_BITMAP, 0);
    for (int id : {IDC_TITLE1, IDC_TITLE2, IDC_HEADING}) SendDlgItemMessageW(dialog, id, WM_SETFONT, 0, FALSE);
    SendMessageW(dialog, WM_SETICON, ICON_BIG, 0);

    state.handCursor.Reset();
    state.arrowCursor.Reset();
    state.titleFont.Reset();
    state.headingFont.Reset();
    state.icon.Reset();
    for (GdiObject& picture : state.pictures) picture.Reset();
}

// Strictly inside the control's window rectangle: a point on its edge is outside.
bool Inside(HWND dialog, int controlId, POINT screenPoint) {
    RECT rect{};
    const HWND control = GetDlgItem(dialog, controlId);
    if (!control || !GetWindowRect(control, &rect)) return false;
    return screenPoint.x > rect.left && screenPoint.x < rect.right && screenPoint.y > rect.top &&
           screenPoint.y < rect.bottom;
}

// At most one control changes per movement: the first one in the walk that the cursor is in
// (entering it if it was not hovered), or else the first hovered one it has left.
void HandleMouseMove(HWND dialog, DialogState& state, POINT screenPoint) {
    for (size_t index = 0; index < kHoverControls.size(); ++index) {
        const int controlId = kHoverControls[index];
        if (Inside(dialog, controlId, screenPoint)) {
            if (!state.hover[index]) {
                SetCursor(state.handCursor.Get());
                state.hover[index] = true;
                InvalidateRect(GetDlgItem(dialog, controlId), nullptr, FALSE);
            }
            return;
        }
        if (state.hover[index]) {
            SetCursor(state.arrowCursor.Get());
            state.hover[index] = false;
            InvalidateRect(GetDlgItem(dialog, controlId), nullptr, FALSE);
            ReleaseCapture();
            return;
        }
    }
}

void HandleClick(HWND dialog, DialogState& state, POINT screenPoint) {
    int product = -1;
    if (Inside(dialog, IDC_PICTURE1, screenPoint) || Inside(dialog, IDC_TITLE1, screenPoint)) {
        product = 0;
    } else if (Inside(dialog, IDC_PICTURE2, screenPoint) || Inside(dialog, IDC_TITLE2, screenPoint)) {
        product = 1;
    }
    if (product < 0 || !state.opener) return;
    // A copy: the opener may run a message loop during which the dialog can be closed.
    const std::wstring link = state.links[static_cast<size_t>(product)];
    state.opener(link, SW_SHOW, state.openerContext);
}

// The header band, from the client origin across the full window width down to the top of the
// separator under it, in the window colour.
void PaintHeaderBand(HWND dialog) {
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(dialog, &paint);
    if (!dc) return;
    RECT window{};
    RECT separator{};
    const HWND separatorControl = GetDlgItem(dialog, IDC_HEADER_SEPARATOR);
    if (GetWindowRect(dialog, &window) && separatorControl && GetWindowRect(separatorControl, &separator)) {
        POINT separatorTop{separator.left, separator.top};
        ScreenToClient(dialog, &separatorTop);
        GdiObject pen(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_WINDOW)));
        if (pen) {
            SelectedObject selectedPen(dc, pen.Get());
            SelectedObject selectedBrush(dc, GetSysColorBrush(COLOR_WINDOW));
            Rectangle(dc, 0, 0, window.right - window.left, separatorTop.y);
        }
    }
    EndPaint(dialog, &paint);
}

INT_PTR StaticColours(DialogState& state, HDC dc, HWND control) {
    int background;
    COLORREF text = kBlack;
    switch (GetDlgCtrlID(control)) {
    case IDC_TITLE1:
        text = state.hover[kHoverFirstTitle] ? kHoverBlue : kBlack;
        background = COLOR_3DFACE;
        break;
    case IDC_TITLE2:
        text = state.hover[kHoverSecondTitle] ? kHoverBlue : kBlack;
        background = COLOR_3DFACE;
        break;
    case IDC_DESCRIPTION1:
    case IDC_DESCRIPTION2:
        background = COLOR_3DFACE;
        break;
    case IDC_HEADING:
    case IDC_SUBHEADING:
        background = COLOR_WINDOW;
        break;
    default:
        return FALSE;  // the system's colours
    }
    SetTextColor(dc, text);
    SetBkColor(dc, GetSysColor(background));
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(background));
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* parameters = reinterpret_cast<const DialogParameters*>(lParam);
        auto state = std::make_unique<DialogState>();
        state->opener = parameters->opener;
        state->openerContext = parameters->openerContext;
        state->modeless = parameters->modeless;
        SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state.get()));
        Initialise(dialog, *state.release());
        return TRUE;
    }
    DialogState* state = StateOf(dialog);
    if (!state) return FALSE;

    switch (message) {
    case WM_PAINT:
        PaintHeaderBand(dialog);
        return TRUE;
    case WM_CTLCOLORSTATIC:
        return StaticColours(*state, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_MOUSEMOVE: {
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ClientToScreen(dialog, &point);
        HandleMouseMove(dialog, *state, point);
        return TRUE;
    }
    case WM_SETCURSOR: {
        const bool anyHover = state->hover[0] || state->hover[1] || state->hover[2] || state->hover[3];
        if (anyHover) SetCapture(dialog);
        // The cursor chosen by the hover walk stays: the system is told it was set.
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    case WM_LBUTTONDOWN: {
        POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ClientToScreen(dialog, &point);
        HandleClick(dialog, *state, point);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            PostMessageW(dialog, WM_CLOSE, 0, 0);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        ReleaseResources(dialog, *state);
        if (state->modeless) DestroyWindow(dialog);
        else EndDialog(dialog, 0);
        return TRUE;
    case WM_NCDESTROY:
        SetWindowLongPtrW(dialog, DWLP_USER, 0);
        ReleaseResources(dialog, *state);
        delete state;
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

void OpenProductLink(const std::wstring& link, int showMode, void* /*context*/) {
    // A link that neither the shell nor the browser opens is left alone: nothing is shown.
    OpenLink(link, showMode);
}

INT_PTR RunDialog(HINSTANCE resources, LinkOpener opener, void* openerContext) {
    DialogParameters parameters{opener, openerContext, false};
    return DialogBoxParamW(resources, MAKEINTRESOURCEW(IDD_OTHER_PRODUCTS), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(&parameters));
}

HWND CreateModelessDialog(HINSTANCE resources, HWND owner, LinkOpener opener, void* openerContext) {
    DialogParameters parameters{opener, openerContext, true};
    const HWND dialog = CreateDialogParamW(resources, MAKEINTRESOURCEW(IDD_OTHER_PRODUCTS), owner, DialogProc,
                                           reinterpret_cast<LPARAM>(&parameters));
    if (dialog) ShowWindow(dialog, SW_SHOW);
    return dialog;
}

bool GetDialogSnapshot(HWND dialog, DialogSnapshot& snapshot) {
    if (!IsWindow(dialog) ||
        GetWindowLongPtrW(dialog, DWLP_DLGPROC) != reinterpret_cast<LONG_PTR>(DialogProc)) {
        return false;
    }
    const DialogState* state = StateOf(dialog);
    if (!state) return false;
    snapshot.hover = state->hover;
    snapshot.handCursor = state->handCursor.Get();
    snapshot.arrowCursor = state->arrowCursor.Get();
    snapshot.links = state->links;
    return true;
}

}  // namespace lumvane
