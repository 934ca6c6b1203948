// The control inside an OLE container (run under Xvfb): creation with OleCreate, in-place
// activation in a child window, extent, drawing, data, quick activation, class information, and
// container calls in any order.
#include <gtest/gtest.h>

#include <ole2.h>
#include <objsafe.h>
#include <olectl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "com/module.h"
#include "control/Ombrix.h"
#include "control/fake_sink.h"
#include "test_util.h"

using test::ComPtr;

namespace {

// A frame that records the active object the control announces.
class TestFrame final : public IOleInPlaceFrame {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** result) override {
        *result = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleWindow) ||
            IsEqualIID(riid, IID_IOleInPlaceUIWindow) || IsEqualIID(riid, IID_IOleInPlaceFrame)) {
            *result = static_cast<IOleInPlaceFrame*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetWindow(HWND* window) override {
        *window = frame_window;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override {
        active = object;
        return S_OK;
    }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    HWND frame_window = nullptr;
    ComPtr<IOleInPlaceActiveObject> active;
    ULONG refs = 1;
};

// A client site with in-place support that records the control's calls.
class TestSite final : public IOleClientSite, public IOleInPlaceSite {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** result) override {
        *result = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite)) {
            *result = static_cast<IOleClientSite*>(this);
        } else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceSite)) {
            *result = static_cast<IOleInPlaceSite*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    // IOleClientSite
    STDMETHODIMP SaveObject() override {
        ++saves;
        return S_OK;
    }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    // IOleWindow, IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* window) override {
        *window = parent;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return can_activate ? S_OK : S_FALSE; }
    STDMETHODIMP OnInPlaceActivate() override {
        ++in_place_activations;
        return S_OK;
    }
    STDMETHODIMP OnUIActivate() override {
        ++ui_activations;
        return S_OK;
    }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame_out, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
        frame.AddRef();
        *frame_out = &frame;
        *document = nullptr;
        *position = position_rect;
        *clip = clip_rect;
        info->fMDIApp = FALSE;
        info->hwndFrame = parent;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override {
        ++ui_deactivations;
        return S_OK;
    }
    STDMETHODIMP OnInPlaceDeactivate() override {
        ++in_place_deactivations;
        return S_OK;
    }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    HWND parent = nullptr;
    RECT position_rect{20, 30, 120, 90};
    RECT clip_rect{0, 0, 400, 300};
    bool can_activate = true;
    TestFrame frame;
    ULONG refs = 1;
    int saves = 0, in_place_activations = 0, ui_activations = 0, ui_deactivations = 0, in_place_deactivations = 0;
};

// The 24-bit picture as the build drew it, top-down, 0x00RRGGBB per pixel.
std::vector<uint32_t> ReadBitmapFile(const char* path, int* width, int* height) {
    std::vector<uint32_t> pixels;
    FILE* file = fopen(path, "rb");
    if (!file) return pixels;
    std::vector<uint8_t> bytes;
    uint8_t chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.insert(bytes.end(), chunk, chunk + got);
    fclose(file);
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return pixels;
    const auto u32 = [&](size_t at) { return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24; };
    const uint32_t offset = u32(10);
    *width = static_cast<int>(u32(18));
    *height = static_cast<int>(u32(22));
    const int bits = bytes[28] | bytes[29] << 8;
    if (bits != 24) return pixels;
    const size_t row = (static_cast<size_t>(*width) * 3 + 3) & ~size_t(3);
    if (bytes.size() < offset + row * *height) return pixels;
    pixels.resize(static_cast<size_t>(*width) * *height);
    for (int y = 0; y < *height; ++y) {
        const uint8_t* line = bytes.data() + offset + row * (*height - 1 - y);
        for (int x = 0; x < *width; ++x)
            pixels[y * *width + x] = line[x * 3] | line[x * 3 + 1] << 8 | line[x * 3 + 2] << 16;
    }
    return pixels;
}

// A 64 x 64 top-down 32-bit memory canvas with a known pattern.
class Canvas {
public:
    Canvas() : dc_(nullptr) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = kSize;
        info.bmiHeader.biHeight = -kSize;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap_.Reset(CreateDIBSection(dc_.Get(), &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0));
        if (bitmap_.Get()) previous_ = SelectObject(dc_.Get(), bitmap_.Get());
        for (int i = 0; i < kSize * kSize; ++i) bits_[i] = Pattern(i % kSize, i / kSize);
    }
    ~Canvas() {
        if (previous_) SelectObject(dc_.Get(), previous_);
    }
    static uint32_t Pattern(int x, int y) { return 0x00406080u ^ static_cast<uint32_t>(x * 5 + y * 977); }
    HDC Dc() const { return dc_.Get(); }
    uint32_t At(int x, int y) const {
        GdiFlush();
        return bits_[y * kSize + x] & 0x00FFFFFFu;
    }
    static constexpr int kSize = 64;

private:
    ombrix::MemoryDc dc_;
    ombrix::GdiObject<HBITMAP> bitmap_;
    uint32_t* bits_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

class OleSurface : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        // The control comes from this program's own class object, found by its CLSID.
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(com::GetClassObject(CLSID_Ombrix, IID_PPV_ARGS(&factory)), S_OK);
        ASSERT_EQ(CoRegisterClassObject(CLSID_Ombrix, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                        &registration_), S_OK);
        parent_ = CreateWindowExW(0, L"STATIC", L"container", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 400, 300,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(parent_, nullptr);
        site_.parent = parent_;
        site_.frame.frame_window = parent_;
        ASSERT_EQ(StgCreateDocfile(nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE,
                                   0, &storage_), S_OK);
    }
    void TearDown() override {
        storage_.Reset();
        if (parent_) DestroyWindow(parent_);
        if (registration_) CoRevokeClassObject(registration_);
        OleUninitialize();
        EXPECT_EQ(site_.refs, 1u) << "the control released its site";
        EXPECT_EQ(site_.frame.refs, 1u) << "the control released the frame";
    }

    ComPtr<IOleObject> Create() {
        ComPtr<IOleObject> object;
        EXPECT_EQ(OleCreate(CLSID_Ombrix, IID_IOleObject, OLERENDER_DRAW, nullptr, &site_, storage_.Get(),
                            reinterpret_cast<void**>(object.GetAddressOf())), S_OK);
        return object;
    }

    DWORD registration_ = 0;
    HWND parent_ = nullptr;
    TestSite site_;
    ComPtr<IStorage> storage_;
};

TEST_F(OleSurface, QueryInterfaceAnswersTheControlsInterfacesOnly) {
    ComPtr<IOleObject> object = Create();
    ASSERT_TRUE(object);
    const IID* answered[] = {&IID_IOmbrix, &IID_IDispatch, &IID_IViewObjectEx, &IID_IViewObject2, &IID_IViewObject,
                             &IID_IOleInPlaceObjectWindowless, &IID_IOleInPlaceObject, &IID_IOleWindow,
                             &IID_IOleInPlaceActiveObject, &IID_IOleControl, &IID_IOleObject, &IID_IPersistStreamInit,
                             &IID_IPersist, &IID_ISupportErrorInfo, &IID_ISpecifyPropertyPages, &IID_IQuickActivate,
                             &IID_IPersistStorage, &IID_IDataObject, &IID_IProvideClassInfo,
                             &IID_IProvideClassInfo2, &IID_IConnectionPointContainer};
    ASSERT_EQ(std::size(answered), 21u);
    ComPtr<IUnknown> identity;
    ASSERT_EQ(object.As(&identity), S_OK);
    for (const IID* iid : answered) {
        ComPtr<IUnknown> part, part_identity;
        ASSERT_EQ(object->QueryInterface(*iid, &part), S_OK);
        ASSERT_EQ(part.As(&part_identity), S_OK);
        EXPECT_EQ(part_identity.Get(), identity.Get());
    }
    const IID* refused[] = {&IID_IObjectSafety, &IID_IPersistPropertyBag, &IID_IRunnableObject, &IID_IOleCache,
                            &IID_IPointerInactive, &IID_IPropertyNotifySink};
    for (const IID* iid : refused) {
        ComPtr<IUnknown> part;
        EXPECT_EQ(object->QueryInterface(*iid, &part), E_NOINTERFACE);
    }
    ComPtr<IDispatch> dispatch;
    ComPtr<IOmbrix> control;
    ASSERT_EQ(object.As(&dispatch), S_OK);
    ASSERT_EQ(object.As(&control), S_OK);
    EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(control.Get()));

    ComPtr<IProvideClassInfo2> class_info;
    ASSERT_EQ(object.As(&class_info), S_OK);
    GUID source{};
    ASSERT_EQ(class_info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    EXPECT_TRUE(IsEqualGUID(source, DIID__IOmbrixEvents));
    EXPECT_EQ(class_info->GetGUID(2, &source), E_INVALIDARG);
    EXPECT_EQ(class_info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, nullptr), E_POINTER);
    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(class_info->GetClassInfo(&coclass), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, CLSID_Ombrix));
    EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
    coclass->ReleaseTypeAttr(attributes);
    EXPECT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
}

TEST_F(OleSurface, InPlaceActivationMakesAChildWindowWithExactlyFourStyles) {
    ComPtr<IOleObject> object = Create();
    ASSERT_TRUE(object);
    DWORD status = 0;
    ASSERT_EQ(object->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 132497u);
    EXPECT_EQ(status, static_cast<DWORD>(OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                         OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INVISIBLEATRUNTIME |
                                         OLEMISC_SETCLIENTSITEFIRST));
    ComPtr<IOleInPlaceObject> in_place;
    ASSERT_EQ(object.As(&in_place), S_OK);
    HWND window = nullptr;
    EXPECT_EQ(in_place->GetWindow(&window), E_FAIL) << "no window before activation";

    ASSERT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site_, 0, parent_, &site_.position_rect), S_OK);
    EXPECT_EQ(site_.in_place_activations, 1);
    EXPECT_EQ(site_.ui_activations, 0);
    ASSERT_EQ(in_place->GetWindow(&window), S_OK);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(GetParent(window), parent_);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)),
              static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN));
    RECT placed{};
    GetWindowRect(window, &placed);
    MapWindowPoints(HWND_DESKTOP, parent_, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_TRUE(EqualRect(&placed, &site_.position_rect));

    // Moved by the container; then UI-activated by a click.
    RECT moved{40, 50, 90, 80};
    EXPECT_EQ(in_place->SetObjectRects(&moved, &site_.clip_rect), S_OK);
    GetWindowRect(window, &placed);
    MapWindowPoints(HWND_DESKTOP, parent_, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_TRUE(EqualRect(&placed, &moved));
    EXPECT_EQ(in_place->SetObjectRects(nullptr, nullptr), E_POINTER);
    SendMessageW(window, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(parent_), MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN));
    EXPECT_EQ(site_.ui_activations, 1);
    EXPECT_NE(site_.frame.active.Get(), nullptr);
    // A reflected notification goes to the default procedure.
    EXPECT_EQ(SendMessageW(window, OCM_COMMAND, 0, 0), 0);

    EXPECT_EQ(in_place->UIDeactivate(), S_OK);
    EXPECT_EQ(site_.ui_deactivations, 1);
    EXPECT_EQ(site_.frame.active.Get(), nullptr);
    EXPECT_EQ(in_place->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(site_.in_place_deactivations, 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(in_place->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(site_.in_place_deactivations, 1);

    // Activated again and closed with the control still active: Close ends the activation.
    ASSERT_EQ(object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site_, 0, parent_, &site_.position_rect), S_OK);
    ASSERT_EQ(in_place->GetWindow(&window), S_OK);
    EXPECT_EQ(object->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(site_.saves, 1) << "a modified control asks its site to save it";
    EXPECT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
}

TEST_F(OleSurface, ContainerCallsInAnyOrderGiveDefinedResults) {
    ComPtr<IOleObject> object;
    ASSERT_EQ(CoCreateInstance(CLSID_Ombrix, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)), S_OK);
    ComPtr<IOleInPlaceObject> in_place;
    ASSERT_EQ(object.As(&in_place), S_OK);
    EXPECT_EQ(object->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
    EXPECT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(in_place->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(in_place->UIDeactivate(), S_OK);
    EXPECT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, parent_, nullptr), E_UNEXPECTED);
    EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
    ComPtr<IOleClientSite> site;
    EXPECT_EQ(object->GetClientSite(&site), S_OK);
    EXPECT_EQ(site.Get(), nullptr);

    // A site that refuses in-place activation: no window, the site stays free.
    site_.can_activate = false;
    ASSERT_EQ(object->SetClientSite(&site_), S_OK);
    EXPECT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site_, 0, parent_, nullptr), E_FAIL);
    EXPECT_EQ(site_.in_place_activations, 0);
    site_.can_activate = true;
    // Verbs without an action of their own.
    EXPECT_EQ(object->DoVerb(OLEIVERB_PROPERTIES, nullptr, &site_, 0, parent_, nullptr), E_NOTIMPL);
    EXPECT_EQ(object->DoVerb(OLEIVERB_DISCARDUNDOSTATE, nullptr, &site_, 0, parent_, nullptr), S_OK);
    EXPECT_EQ(object->DoVerb(7, nullptr, &site_, 0, parent_, nullptr), OLEOBJ_S_INVALIDVERB);
    EXPECT_EQ(site_.ui_activations, 1) << "an unknown verb acts as the primary verb";
    EXPECT_EQ(object->DoVerb(OLEIVERB_HIDE, nullptr, &site_, 0, parent_, nullptr), S_OK);
    HWND window = nullptr;
    ASSERT_EQ(in_place->GetWindow(&window), S_OK);
    EXPECT_FALSE(IsWindowVisible(window));
    // Taking the site away while active ends the activation.
    EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(site_.in_place_deactivations, 1);
    EXPECT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);

    CLSID clsid{};
    EXPECT_EQ(object->GetUserClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Ombrix));
    EXPECT_EQ(object->GetUserClassID(nullptr), E_POINTER);
    EXPECT_EQ(object->GetMiscStatus(DVASPECT_CONTENT, nullptr), E_POINTER);
    DWORD status = 1;
    EXPECT_EQ(object->GetMiscStatus(DVASPECT_ICON, &status), S_OK);
    EXPECT_EQ(status, 0u);
}

TEST_F(OleSurface, TheExtentIsThirtyTwoPixelsAndCannotChange) {
    ComPtr<IOleObject> object = Create();
    ASSERT_TRUE(object);
    SIZEL extent{};
    ASSERT_EQ(object->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    com::WindowDc screen(nullptr);
    const int dpi_x = GetDeviceCaps(screen.Get(), LOGPIXELSX), dpi_y = GetDeviceCaps(screen.Get(), LOGPIXELSY);
    EXPECT_EQ(MulDiv(extent.cx, dpi_x, 2540), 32);
    EXPECT_EQ(MulDiv(extent.cy, dpi_y, 2540), 32);

    SIZEL same = extent, other{extent.cx + 100, extent.cy};
    EXPECT_EQ(object->SetExtent(DVASPECT_CONTENT, &same), S_OK);
    EXPECT_EQ(object->SetExtent(DVASPECT_CONTENT, &other), E_FAIL);
    EXPECT_EQ(object->SetExtent(DVASPECT_ICON, &same), DV_E_DVASPECT);
    EXPECT_EQ(object->GetExtent(DVASPECT_ICON, &other), DV_E_DVASPECT);
    SIZEL after{};
    ASSERT_EQ(object->GetExtent(DVASPECT_CONTENT, &after), S_OK);
    EXPECT_EQ(after.cx, extent.cx);
    EXPECT_EQ(after.cy, extent.cy);

    ComPtr<IViewObjectEx> view;
    ASSERT_EQ(object.As(&view), S_OK);
    SIZEL view_extent{};
    ASSERT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &view_extent), S_OK);
    EXPECT_EQ(view_extent.cx, extent.cx);
    DVEXTENTINFO info{sizeof info, DVEXTENT_CONTENT, {}};
    SIZEL natural{};
    ASSERT_EQ(view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, &natural), S_OK);
    EXPECT_EQ(natural.cx, extent.cx);
    EXPECT_EQ(natural.cy, extent.cy);
    ComPtr<IQuickActivate> quick;
    ASSERT_EQ(object.As(&quick), S_OK);
    SIZEL content{};
    ASSERT_EQ(quick->GetContentExtent(&content), S_OK);
    EXPECT_EQ(content.cy, extent.cy);
    EXPECT_EQ(quick->SetContentExtent(&other), E_FAIL);
    EXPECT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
}

TEST_F(OleSurface, DrawCopiesThePictureUnscaledToTheTopLeftOfTheBounds) {
    int width = 0, height = 0;
    const std::vector<uint32_t> picture = ReadBitmapFile(CONTROL_BMP_PATH, &width, &height);
    ASSERT_EQ(width, 32);
    ASSERT_EQ(height, 32);
    ASSERT_EQ(picture.size(), 32u * 32u);

    ComPtr<IViewObject> view;
    ASSERT_EQ(CoCreateInstance(CLSID_Ombrix, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&view)), S_OK);
    const auto check = [&](const RECTL& bounds) {
        Canvas canvas;
        ASSERT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, canvas.Dc(), &bounds, nullptr, nullptr,
                             0), S_OK);
        const LONG right = std::min(bounds.left + 32, bounds.right), bottom = std::min(bounds.top + 32, bounds.bottom);
        int differences = 0;
        for (int y = 0; y < Canvas::kSize; ++y) {
            for (int x = 0; x < Canvas::kSize; ++x) {
                const bool inside = x >= bounds.left && x < right && y >= bounds.top && y < bottom;
                const uint32_t expected =
                    inside ? picture[(y - bounds.top) * 32 + (x - bounds.left)] : Canvas::Pattern(x, y) & 0xFFFFFFu;
                if (canvas.At(x, y) != expected && ++differences <= 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << (inside ? " (picture)" : " (untouched)");
            }
        }
        EXPECT_EQ(differences, 0);
    };
    check(RECTL{0, 0, 64, 64});
    check(RECTL{5, 7, 64, 64});     // at the bounds' corner, not the canvas'
    check(RECTL{10, 10, 26, 26});   // 16 x 16 bounds: the picture's corner, nothing outside
    check(RECTL{40, 40, 30, 30});   // empty bounds: nothing
    RECTL bounds{0, 0, 64, 64};
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr, &bounds, nullptr, nullptr, 0),
              E_INVALIDARG);
}

TEST_F(OleSurface, DataPropertyPagesQuickActivationAndControlInfo) {
    ComPtr<IOleObject> object = Create();
    ASSERT_TRUE(object);
    ComPtr<IDataObject> data;
    ASSERT_EQ(object.As(&data), S_OK);
    FORMATETC picture_format{CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    FORMATETC text_format{CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    EXPECT_EQ(data->QueryGetData(&picture_format), S_OK);
    EXPECT_EQ(data->QueryGetData(&text_format), DV_E_FORMATETC);
    STGMEDIUM medium{};
    EXPECT_EQ(data->GetData(&text_format, &medium), DV_E_FORMATETC);
    ASSERT_EQ(data->GetData(&picture_format, &medium), S_OK);
    ASSERT_EQ(medium.tymed, static_cast<DWORD>(TYMED_MFPICT));
    SIZEL extent{};
    object->GetExtent(DVASPECT_CONTENT, &extent);
    if (auto* picture = static_cast<METAFILEPICT*>(GlobalLock(medium.hMetaFilePict))) {
        EXPECT_EQ(picture->mm, MM_ANISOTROPIC);
        EXPECT_EQ(picture->xExt, extent.cx);
        EXPECT_EQ(picture->yExt, extent.cy);
        EXPECT_GT(GetMetaFileBitsEx(picture->hMF, 0, nullptr), 0u);
        GlobalUnlock(medium.hMetaFilePict);
    } else {
        ADD_FAILURE() << "no METAFILEPICT";
    }
    ReleaseStgMedium(&medium);

    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(object.As(&pages), S_OK);
    CAUUID list{5, reinterpret_cast<GUID*>(1)};
    EXPECT_EQ(pages->GetPages(&list), S_OK);
    EXPECT_EQ(list.cElems, 0u);
    EXPECT_EQ(list.pElems, nullptr);

    ComPtr<IOleControl> control;
    ASSERT_EQ(object.As(&control), S_OK);
    CONTROLINFO info{sizeof info};
    info.cAccel = 9;
    EXPECT_EQ(control->GetControlInfo(&info), S_OK);
    EXPECT_EQ(info.cAccel, 0);
    EXPECT_EQ(control->FreezeEvents(TRUE), S_OK);
    EXPECT_EQ(control->FreezeEvents(FALSE), S_OK);
    EXPECT_EQ(control->FreezeEvents(FALSE), S_OK);

    ComPtr<IQuickActivate> quick;
    ASSERT_EQ(object.As(&quick), S_OK);
    test::QuietSink sink;
    QACONTAINER container{};
    container.cbSize = sizeof container;
    container.pClientSite = &site_;
    container.pUnkEventSink = &sink;
    QACONTROL result{};
    result.cbSize = sizeof result;
    ASSERT_EQ(quick->QuickActivate(&container, &result), S_OK);
    EXPECT_EQ(result.dwMiscStatus, 132497u);
    EXPECT_NE(result.dwEventCookie, 0u);
    EXPECT_EQ(sink.refs, 2u) << "the events' connection point holds the sink";
    ComPtr<IConnectionPointContainer> points;
    ComPtr<IConnectionPoint> events;
    ASSERT_EQ(object.As(&points), S_OK);
    ASSERT_EQ(points->FindConnectionPoint(DIID__IOmbrixEvents, &events), S_OK);
    EXPECT_EQ(events->Unadvise(result.dwEventCookie), S_OK);
    EXPECT_EQ(sink.refs, 1u);
    result.cbSize = 4;
    EXPECT_EQ(quick->QuickActivate(&container, &result), E_INVALIDARG);
    EXPECT_EQ(quick->QuickActivate(nullptr, &result), E_POINTER);

    // The user type comes from the registration.
    LPOLESTR user_type = nullptr;
    if (SUCCEEDED(object->GetUserType(USERCLASSTYPE_FULL, &user_type))) {
        EXPECT_STREQ(user_type, L"Ombrix Class");
        CoTaskMemFree(user_type);
    } else {
        ADD_FAILURE() << "Ombrix.dll is not registered in this prefix";
    }
    EXPECT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
}

}  // namespace
