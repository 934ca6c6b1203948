#include "control/ole_control.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "com/holders.h"
#include "com/module.h"
#include "com/object.h"

namespace ombrix {
namespace {

constexpr wchar_t kWindowClass[] = L"OmbrixControlWindow";
constexpr wchar_t kContentsStream[] = L"Contents";
constexpr int kHimetricPerInch = 2540;

// Pixels to HIMETRIC with the screen's logical pixels per inch.
SIZEL PixelsToHimetric(int width, int height) {
    com::WindowDc screen(nullptr);
    int dpi_x = screen.Get() ? GetDeviceCaps(screen.Get(), LOGPIXELSX) : 0;
    int dpi_y = screen.Get() ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
    if (dpi_x <= 0) dpi_x = 96;
    if (dpi_y <= 0) dpi_y = 96;
    return {MulDiv(kHimetricPerInch, width, dpi_x), MulDiv(kHimetricPerInch, height, dpi_y)};
}

// The formats IDataObject serves: the content as a metafile picture.
bool IsPictureFormat(const FORMATETC* format) {
    return format->cfFormat == CF_METAFILEPICT && (format->tymed & TYMED_MFPICT) &&
           format->dwAspect == DVASPECT_CONTENT;
}

}  // namespace

void UnregisterControlWindowClass() { UnregisterClassW(kWindowClass, com::ModuleHandle()); }

void DrawControlPicture(HDC dc, const RECT& bounds) {
    const LONG width = std::min<LONG>(OleControl::kPictureSize, bounds.right - bounds.left);
    const LONG height = std::min<LONG>(OleControl::kPictureSize, bounds.bottom - bounds.top);
    if (width <= 0 || height <= 0) return;
    ombrix::GdiObject<HBITMAP> bitmap(static_cast<HBITMAP>(LoadImageW(
        com::ModuleHandle(), MAKEINTRESOURCEW(OleControl::kPictureBitmap), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (!bitmap.Get()) return;
    ombrix::MemoryDc memory(dc);
    if (!memory.Get()) return;
    com::Selection selected(memory.Get(), bitmap.Get());
    if (!selected.Ok()) return;
    BitBlt(dc, bounds.left, bounds.top, width, height, memory.Get(), 0, 0, SRCCOPY);
}

OleControl::OleControl(const CLSID& clsid, const IID& default_source)
    : clsid_(clsid), default_source_(default_source), extent_(PixelsToHimetric(kPictureSize, kPictureSize)) {}

OleControl::~OleControl() { DestroyControlWindow(); }

// --- Window -----------------------------------------------------------------------------------

LRESULT CALLBACK OleControl::WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* control = static_cast<OleControl*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(control));
        control->window_ = window;
    }
    auto* control = reinterpret_cast<OleControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!control) return DefWindowProcW(window, message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        control->window_ = nullptr;
        return DefWindowProcW(window, message, wparam, lparam);
    }
    // A handler may call the container, which may drop its last reference to the control.
    com::Ptr<IUnknown> hold(control->Self());
    return control->HandleMessage(window, message, wparam, lparam);
}

LRESULT OleControl::HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            if (HDC dc = BeginPaint(window, &paint)) {
                RECT client{};
                GetClientRect(window, &client);
                DrawControlPicture(dc, client);
                EndPaint(window, &paint);
            }
            return 0;
        }
        case WM_SETFOCUS:
            if (in_place_active_ && !ui_active_) InPlaceActivate(true, nullptr);
            NotifyFocus(true);
            break;
        case WM_KILLFOCUS:
            NotifyFocus(false);
            break;
        case WM_MOUSEACTIVATE:
            if (in_place_active_ && !ui_active_) InPlaceActivate(true, nullptr);
            break;
        default:
            // Messages a container reflects back to the control (OCM_BASE and above) have no
            // handler: they go to the default procedure like every other message.
            break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

void OleControl::NotifyFocus(bool focus) {
    if (const auto control_site = com::TryQuery<IOleControlSite>(client_site_.Get())) control_site->OnFocus(focus);
}

HRESULT OleControl::CreateControlWindow() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW window_class{};
        window_class.cbSize = sizeof window_class;
        window_class.style = CS_DBLCLKS;
        window_class.lpfnWndProc = &OleControl::WindowProcedure;
        window_class.hInstance = com::ModuleHandle();
        window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        window_class.lpszClassName = kWindowClass;
        if (!RegisterClassExW(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return HRESULT_FROM_WIN32(GetLastError());
        registered = true;
    }
    HWND parent = nullptr;
    RETURN_IF_FAILED(in_place_site_->GetWindow(&parent));
    RECT position{}, clip{};
    OLEINPLACEFRAMEINFO frame_info{};
    frame_info.cb = sizeof frame_info;
    frame_.Reset();
    ui_window_.Reset();
    RETURN_IF_FAILED(in_place_site_->GetWindowContext(&frame_, &ui_window_, &position, &clip, &frame_info));
    // The container owns the accelerator table it may hand out; the control keeps none.
    CreateWindowExW(0, kWindowClass, L"", kWindowStyle, position.left, position.top, position.right - position.left,
                    position.bottom - position.top, parent, nullptr, com::ModuleHandle(), this);
    if (!window_) return HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_INVALID_WINDOW_HANDLE);
    SetObjectRects(&position, &clip);
    return S_OK;
}

void OleControl::DestroyControlWindow() {
    if (!window_) return;
    HWND window = window_;
    // Detached first: the destruction messages then reach no part of the control.
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    window_ = nullptr;
    DestroyWindow(window);
}

// --- Activation -------------------------------------------------------------------------------

HRESULT OleControl::InPlaceActivate(bool ui_activate, IOleClientSite* active_site) {
    com::Ptr<IUnknown> hold(Self());
    if (!in_place_active_) {
        IOleClientSite* site = client_site_ ? client_site_.Get() : active_site;
        if (!site) return E_UNEXPECTED;
        const com::Ptr<IOleInPlaceSite> in_place_site = com::TryQuery<IOleInPlaceSite>(site);
        if (!in_place_site) return E_NOINTERFACE;
        if (in_place_site->CanInPlaceActivate() != S_OK) return E_FAIL;
        RETURN_IF_FAILED(in_place_site->OnInPlaceActivate());
        in_place_site_ = in_place_site;
        in_place_active_ = true;
    }
    if (!window_) {
        const HRESULT hr = CreateControlWindow();
        if (FAILED(hr)) {
            InPlaceDeactivate();
            return hr;
        }
    } else {
        ShowWindow(window_, SW_SHOW);
    }
    if (ui_activate && !ui_active_ && in_place_site_) {
        ui_active_ = true;
        in_place_site_->OnUIActivate();
        if (window_ && GetFocus() != window_) SetFocus(window_);
        auto* active = static_cast<IOleInPlaceActiveObject*>(this);
        if (frame_) frame_->SetActiveObject(active, nullptr);
        if (ui_window_) ui_window_->SetActiveObject(active, nullptr);
        if (frame_) frame_->SetBorderSpace(nullptr);
        if (ui_window_) ui_window_->SetBorderSpace(nullptr);
    }
    return S_OK;
}

STDMETHODIMP OleControl::InPlaceDeactivate() try {
    if (!in_place_active_) return S_OK;
    com::Ptr<IUnknown> hold(Self());
    UIDeactivate();
    in_place_active_ = false;
    DestroyControlWindow();
    com::Ptr<IOleInPlaceSite> site = std::move(in_place_site_);
    frame_.Reset();
    ui_window_.Reset();
    if (site) site->OnInPlaceDeactivate();
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::UIDeactivate() try {
    if (!ui_active_) return S_OK;
    com::Ptr<IUnknown> hold(Self());
    ui_active_ = false;
    if (ui_window_) ui_window_->SetActiveObject(nullptr, nullptr);
    if (frame_) frame_->SetActiveObject(nullptr, nullptr);
    if (in_place_site_) in_place_site_->OnUIDeactivate(FALSE);
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::SetObjectRects(LPCRECT position, LPCRECT clip) try {
    if (!position) return E_POINTER;
    if (!window_) return S_OK;
    SetWindowPos(window_, nullptr, position->left, position->top, position->right - position->left,
                 position->bottom - position->top, SWP_NOZORDER | SWP_NOACTIVATE);
    // Where the container's clip rectangle cuts the control, a window region hides the rest.
    RECT visible{};
    if (clip && IntersectRect(&visible, position, clip) && !EqualRect(&visible, position)) {
        OffsetRect(&visible, -position->left, -position->top);
        ombrix::GdiObject<HRGN> region(CreateRectRgnIndirect(&visible));
        if (region.Get() && SetWindowRgn(window_, region.Get(), TRUE)) region.Detach();  // the window owns it now
    } else {
        SetWindowRgn(window_, nullptr, TRUE);
    }
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::ReactivateAndUndo() try { return E_NOTIMPL; } COM_CATCH

// Window-only: the control's own window receives its messages, none come through here.
STDMETHODIMP OleControl::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) try {
    if (result) *result = 0;
    return S_FALSE;
} COM_CATCH

STDMETHODIMP OleControl::GetDropTarget(IDropTarget** target) try {
    return com::SetOut(target, nullptr, E_NOTIMPL);
} COM_CATCH

STDMETHODIMP OleControl::GetWindow(HWND* window) try {
    return com::SetOut(window, window_, window_ ? S_OK : E_FAIL);
} COM_CATCH

STDMETHODIMP OleControl::ContextSensitiveHelp(BOOL) try { return E_NOTIMPL; } COM_CATCH

STDMETHODIMP OleControl::TranslateAccelerator(LPMSG) try { return S_FALSE; } COM_CATCH
STDMETHODIMP OleControl::OnFrameWindowActivate(BOOL) try { return S_OK; } COM_CATCH
STDMETHODIMP OleControl::OnDocWindowActivate(BOOL) try { return S_OK; } COM_CATCH
STDMETHODIMP OleControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) try { return S_OK; } COM_CATCH
STDMETHODIMP OleControl::EnableModeless(BOOL) try { return S_OK; } COM_CATCH

// --- IOleControl ------------------------------------------------------------------------------

// No mnemonics: an empty accelerator table.
STDMETHODIMP OleControl::GetControlInfo(CONTROLINFO* info) try {
    if (!info) return E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::OnMnemonic(MSG*) try { return E_NOTIMPL; } COM_CATCH
STDMETHODIMP OleControl::OnAmbientPropertyChange(DISPID) try { return S_OK; } COM_CATCH

STDMETHODIMP OleControl::FreezeEvents(BOOL freeze) try {
    if (freeze) {
        ++frozen_events_;
    } else if (frozen_events_ > 0) {
        --frozen_events_;
    }
    return S_OK;
} COM_CATCH

// --- IOleObject -------------------------------------------------------------------------------

STDMETHODIMP OleControl::SetClientSite(IOleClientSite* site) try {
    if (site == client_site_.Get()) return S_OK;
    com::Ptr<IUnknown> hold(Self());
    // A container taking its site away first ends any activation that depends on it.
    if (!site) InPlaceDeactivate();
    client_site_ = site;
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::GetClientSite(IOleClientSite** site) try {
    return site ? client_site_.CopyTo(site) : E_POINTER;
} COM_CATCH

STDMETHODIMP OleControl::SetHostNames(LPCOLESTR, LPCOLESTR) try { return S_OK; } COM_CATCH

STDMETHODIMP OleControl::Close(DWORD save_option) try {
    com::Ptr<IUnknown> hold(Self());
    InPlaceDeactivate();
    if ((save_option == OLECLOSE_SAVEIFDIRTY || save_option == OLECLOSE_PROMPTSAVE) && ControlModified() &&
        client_site_) {
        client_site_->SaveObject();
    }
    if (ole_advise_holder_) ole_advise_holder_->SendOnClose();
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::SetMoniker(DWORD, IMoniker*) try { return E_NOTIMPL; } COM_CATCH

STDMETHODIMP OleControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) try {
    return com::SetOut(moniker, nullptr, E_NOTIMPL);
} COM_CATCH

STDMETHODIMP OleControl::InitFromData(IDataObject*, BOOL, DWORD) try { return E_NOTIMPL; } COM_CATCH

STDMETHODIMP OleControl::GetClipboardData(DWORD, IDataObject** data) try {
    return com::SetOut(data, nullptr, E_NOTIMPL);
} COM_CATCH

STDMETHODIMP OleControl::DoVerb(LONG verb, LPMSG, IOleClientSite* active_site, LONG, HWND, LPCRECT) try {
    com::Ptr<IUnknown> hold(Self());
    switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_OPEN:
        case OLEIVERB_UIACTIVATE:
            return InPlaceActivate(true, active_site);
        case OLEIVERB_INPLACEACTIVATE:
            return InPlaceActivate(false, active_site);
        case OLEIVERB_HIDE:
            UIDeactivate();
            if (window_) ShowWindow(window_, SW_HIDE);
            return S_OK;
        case OLEIVERB_DISCARDUNDOSTATE:
            return S_OK;
        case OLEIVERB_PROPERTIES:
            return E_NOTIMPL;  // the control has no property pages
        default:
            if (verb < 0) return E_NOTIMPL;
            // An unknown positive verb acts as the primary verb.
            RETURN_IF_FAILED(InPlaceActivate(true, active_site));
            return OLEOBJ_S_INVALIDVERB;
    }
} COM_CATCH

// The verbs and the user type are those of the registry.
STDMETHODIMP OleControl::EnumVerbs(IEnumOLEVERB** verbs) try {
    if (!verbs) return E_POINTER;
    *verbs = nullptr;
    return OleRegEnumVerbs(clsid_, verbs);
} COM_CATCH

STDMETHODIMP OleControl::GetUserType(DWORD form, LPOLESTR* user_type) try {
    if (!user_type) return E_POINTER;
    *user_type = nullptr;
    return OleRegGetUserType(clsid_, form, user_type);
} COM_CATCH

STDMETHODIMP OleControl::Update() try { return S_OK; } COM_CATCH
STDMETHODIMP OleControl::IsUpToDate() try { return S_OK; } COM_CATCH

STDMETHODIMP OleControl::GetUserClassID(CLSID* clsid) try { return com::SetOut(clsid, clsid_); } COM_CATCH

// The control sizes itself: a request for another extent is refused.
STDMETHODIMP OleControl::SetExtent(DWORD aspect, SIZEL* size) try {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    return size->cx == extent_.cx && size->cy == extent_.cy ? S_OK : E_FAIL;
} COM_CATCH

STDMETHODIMP OleControl::GetExtent(DWORD aspect, SIZEL* size) try {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = extent_;
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::Advise(IAdviseSink* sink, DWORD* connection) try {
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!sink) return E_INVALIDARG;
    if (!ole_advise_holder_) RETURN_IF_FAILED(CreateOleAdviseHolder(&ole_advise_holder_));
    return ole_advise_holder_->Advise(sink, connection);
} COM_CATCH

STDMETHODIMP OleControl::Unadvise(DWORD connection) try {
    return ole_advise_holder_ ? ole_advise_holder_->Unadvise(connection) : OLE_E_NOCONNECTION;
} COM_CATCH

STDMETHODIMP OleControl::EnumAdvise(IEnumSTATDATA** advises) try {
    if (!advises) return E_POINTER;
    *advises = nullptr;
    return ole_advise_holder_ ? ole_advise_holder_->EnumAdvise(advises) : OLE_E_ADVISENOTSUPPORTED;
} COM_CATCH

STDMETHODIMP OleControl::GetMiscStatus(DWORD aspect, DWORD* status) try {
    return com::SetOut(status, aspect == DVASPECT_CONTENT ? kMiscStatus : 0);
} COM_CATCH

STDMETHODIMP OleControl::SetColorScheme(LOGPALETTE*) try { return E_NOTIMPL; } COM_CATCH

// --- Views ------------------------------------------------------------------------------------

STDMETHODIMP OleControl::Draw(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, HDC draw, LPCRECTL bounds, LPCRECTL,
                              BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) try {
    if (!draw || !bounds) return E_INVALIDARG;
    const RECT rect{bounds->left, bounds->top, bounds->right, bounds->bottom};
    DrawControlPicture(draw, rect);
    return S_OK;
} COM_CATCH

// No particular palette.
STDMETHODIMP OleControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) try {
    return com::SetOut(colors, nullptr, S_FALSE);
} COM_CATCH

STDMETHODIMP OleControl::Freeze(DWORD, LONG, void*, DWORD* freeze) try {
    if (freeze) *freeze = 0;
    return E_NOTIMPL;
} COM_CATCH

STDMETHODIMP OleControl::Unfreeze(DWORD) try { return E_NOTIMPL; } COM_CATCH

STDMETHODIMP OleControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) try {
    view_sink_ = sink;
    view_sink_aspects_ = sink ? aspects : 0;
    view_sink_flags_ = sink ? flags : 0;
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) try {
    if (aspects) *aspects = view_sink_aspects_;
    if (flags) *flags = view_sink_flags_;
    return sink ? view_sink_.CopyTo(sink) : S_OK;
} COM_CATCH

STDMETHODIMP OleControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) try {
    return GetExtent(aspect, size);
} COM_CATCH

STDMETHODIMP OleControl::GetRect(DWORD, LPRECTL rect) try {
    if (!rect) return E_POINTER;
    return E_NOTIMPL;
} COM_CATCH

// The picture covers only part of the bounds: the view is neither opaque nor solid.
STDMETHODIMP OleControl::GetViewStatus(DWORD* status) try { return com::SetOut(status, 0); } COM_CATCH

STDMETHODIMP OleControl::QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG, DWORD* hit) try {
    if (!bounds || !hit) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return E_FAIL;
    *hit = PtInRect(bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG, DWORD* hit) try {
    if (!bounds || !location || !hit) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return E_FAIL;
    RECT common{};
    *hit = IntersectRect(&common, bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::GetNaturalExtent(DWORD aspect, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO* info,
                                          LPSIZEL size) try {
    if (!info || !size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT || info->dwExtentMode != DVEXTENT_CONTENT) return E_NOTIMPL;
    *size = PixelsToHimetric(kPictureSize, kPictureSize);
    return S_OK;
} COM_CATCH

// --- Persistence ------------------------------------------------------------------------------

STDMETHODIMP OleControl::GetClassID(CLSID* clsid) try { return com::SetOut(clsid, clsid_); } COM_CATCH

STDMETHODIMP OleControl::IsDirty() try { return ControlModified() ? S_OK : S_FALSE; } COM_CATCH

STDMETHODIMP OleControl::Load(IStream* stream) try {
    if (!stream) return E_POINTER;
    PersistedProperties state;
    RETURN_IF_FAILED(ReadPropertyStream(stream, &state));
    RETURN_IF_FAILED(ApplyPersistedState(state));
    SetControlModified(false);
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::Save(IStream* stream, BOOL clear_dirty) try {
    if (!stream) return E_POINTER;
    RETURN_IF_FAILED(WritePropertyStream(stream, PersistedState()));
    if (clear_dirty) SetControlModified(false);
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::GetSizeMax(ULARGE_INTEGER* size) try {
    if (!size) return E_POINTER;
    size->QuadPart = kPropertyStreamSize;
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::InitNew() try { return S_OK; } COM_CATCH

STDMETHODIMP OleControl::InitNew(IStorage* storage) try { return storage ? S_OK : E_POINTER; } COM_CATCH

STDMETHODIMP OleControl::Load(IStorage* storage) try {
    if (!storage) return E_POINTER;
    com::Ptr<IStream> stream;
    RETURN_IF_FAILED(storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream));
    return Load(stream.Get());
} COM_CATCH

STDMETHODIMP OleControl::Save(IStorage* storage, BOOL same_as_load) try {
    if (!storage) return E_POINTER;
    com::Ptr<IStream> stream;
    RETURN_IF_FAILED(storage->CreateStream(kContentsStream, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0,
                                           0, &stream));
    return Save(stream.Get(), same_as_load);
} COM_CATCH

STDMETHODIMP OleControl::SaveCompleted(IStorage*) try { return S_OK; } COM_CATCH
STDMETHODIMP OleControl::HandsOffStorage() try { return S_OK; } COM_CATCH

// --- Property pages, quick activation ---------------------------------------------------------

STDMETHODIMP OleControl::GetPages(CAUUID* pages) try {
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::QuickActivate(QACONTAINER* container, QACONTROL* control) try {
    if (!container || !control) return E_POINTER;
    // Containers of earlier versions pass a shorter QACONTAINER; the members read here are in all.
    if (container->cbSize < offsetof(QACONTAINER, dwAmbientFlags) || control->cbSize < sizeof(QACONTROL))
        return E_INVALIDARG;
    com::Ptr<IUnknown> hold(Self());
    control->dwMiscStatus = kMiscStatus;
    control->dwViewStatus = 0;
    control->dwEventCookie = 0;
    control->dwPropNotifyCookie = 0;
    control->dwPointerActivationPolicy = 0;
    RETURN_IF_FAILED(SetClientSite(container->pClientSite));
    if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    if (container->pUnkEventSink) {
        const com::Ptr<IConnectionPointContainer> points = com::TryQuery<IConnectionPointContainer>(Self());
        if (!points) return E_NOINTERFACE;
        com::Ptr<IConnectionPoint> events;
        RETURN_IF_FAILED(points->FindConnectionPoint(default_source_, &events));
        RETURN_IF_FAILED(events->Advise(container->pUnkEventSink, &control->dwEventCookie));
    }
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::SetContentExtent(LPSIZEL size) try { return SetExtent(DVASPECT_CONTENT, size); } COM_CATCH
STDMETHODIMP OleControl::GetContentExtent(LPSIZEL size) try { return GetExtent(DVASPECT_CONTENT, size); } COM_CATCH

// --- Data -------------------------------------------------------------------------------------

STDMETHODIMP OleControl::GetData(FORMATETC* format, STGMEDIUM* medium) try {
    if (!format || !medium) return E_POINTER;
    medium->tymed = TYMED_NULL;
    medium->hGlobal = nullptr;
    medium->pUnkForRelease = nullptr;
    if (!IsPictureFormat(format)) return DV_E_FORMATETC;

    // The recording is discarded unless finished, the metafile deleted unless handed out.
    ombrix::MetafileRecording recording(CreateMetaFileW(nullptr));
    if (!recording) return E_OUTOFMEMORY;
    SetWindowOrgEx(recording.Get(), 0, 0, nullptr);
    SetWindowExtEx(recording.Get(), kPictureSize, kPictureSize, nullptr);
    DrawControlPicture(recording.Get(), RECT{0, 0, kPictureSize, kPictureSize});
    ombrix::MetafileHandle metafile(CloseMetaFile(recording.Detach()));
    if (!metafile) return E_OUTOFMEMORY;

    ombrix::GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, sizeof(METAFILEPICT)));
    auto* picture = memory ? static_cast<METAFILEPICT*>(GlobalLock(memory.Get())) : nullptr;
    if (!picture) return E_OUTOFMEMORY;
    picture->mm = MM_ANISOTROPIC;
    picture->xExt = extent_.cx;
    picture->yExt = extent_.cy;
    picture->hMF = metafile.Detach();
    GlobalUnlock(memory.Get());
    medium->tymed = TYMED_MFPICT;
    medium->hMetaFilePict = memory.Detach();  // the caller releases both with ReleaseStgMedium
    return S_OK;
} COM_CATCH

STDMETHODIMP OleControl::GetDataHere(FORMATETC*, STGMEDIUM*) try { return E_NOTIMPL; } COM_CATCH

STDMETHODIMP OleControl::QueryGetData(FORMATETC* format) try {
    if (!format) return E_POINTER;
    return IsPictureFormat(format) ? S_OK : DV_E_FORMATETC;
} COM_CATCH

STDMETHODIMP OleControl::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* canonical) try {
    if (!canonical) return E_POINTER;
    canonical->ptd = nullptr;
    return E_NOTIMPL;
} COM_CATCH

STDMETHODIMP OleControl::SetData(FORMATETC*, STGMEDIUM*, BOOL) try { return E_NOTIMPL; } COM_CATCH

STDMETHODIMP OleControl::EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) try {
    if (!formats) return E_POINTER;
    *formats = nullptr;
    return OleRegEnumFormatEtc(clsid_, direction, formats);
} COM_CATCH

STDMETHODIMP OleControl::DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) try {
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!format || !sink) return E_INVALIDARG;
    if (!data_advise_holder_) RETURN_IF_FAILED(CreateDataAdviseHolder(&data_advise_holder_));
    return data_advise_holder_->Advise(static_cast<IDataObject*>(this), format, flags, sink, connection);
} COM_CATCH

STDMETHODIMP OleControl::DUnadvise(DWORD connection) try {
    return data_advise_holder_ ? data_advise_holder_->Unadvise(connection) : OLE_E_NOCONNECTION;
} COM_CATCH

STDMETHODIMP OleControl::EnumDAdvise(IEnumSTATDATA** advises) try {
    if (!advises) return E_POINTER;
    *advises = nullptr;
    return data_advise_holder_ ? data_advise_holder_->EnumAdvise(advises) : OLE_E_ADVISENOTSUPPORTED;
} COM_CATCH

// --- Class information ------------------------------------------------------------------------

STDMETHODIMP OleControl::GetClassInfo(ITypeInfo** info) try { return com::GetTypeInfo(-1, clsid_, info); } COM_CATCH

STDMETHODIMP OleControl::GetGUID(DWORD kind, GUID* guid) try {
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = default_source_;
    return S_OK;
} COM_CATCH

}  // namespace ombrix
