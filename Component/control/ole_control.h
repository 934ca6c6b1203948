// The control's OLE surface: embedding in a container, in-place activation in a child window of
// its own (never windowless), drawing of its design-time picture, persistence in a stream or a
// storage, and class information. The object class (com::ComObject) supplies IUnknown for every
// interface here; the persisted properties and the modified flag come from the derived control.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>
#include "com/ptr.h"

#include "control/persistence.h"

namespace ombrix {

// Removes the control window's class when the module is unloaded.
void UnregisterControlWindowClass();

// Draws the picture (bitmap resource 202) unscaled at the top left of `bounds`, clipped to them.
// Nothing is drawn when the bitmap cannot be loaded.
void DrawControlPicture(HDC dc, const RECT& bounds);

class OleControl : public IViewObjectEx,
                   public IOleInPlaceObjectWindowless,
                   public IOleInPlaceActiveObject,
                   public IOleControl,
                   public IOleObject,
                   public IPersistStreamInit,
                   public IPersistStorage,
                   public ISpecifyPropertyPages,
                   public IQuickActivate,
                   public IDataObject,
                   public IProvideClassInfo2 {
public:
    // RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT | ACTIVATEWHENVISIBLE | INVISIBLEATRUNTIME |
    // SETCLIENTSITEFIRST: a picture at design time, nothing at run time.
    static constexpr DWORD kMiscStatus = 132497;
    static constexpr UINT kPictureBitmap = 202;
    static constexpr int kPictureSize = 32;  // pixels, also the natural extent
    static constexpr DWORD kWindowStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;

    OleControl(const CLSID& clsid, const IID& default_source);
    OleControl(const OleControl&) = delete;
    OleControl& operator=(const OleControl&) = delete;
    virtual ~OleControl();

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR container_app, LPCOLESTR container_object) override;
    STDMETHODIMP Close(DWORD save_option) override;
    STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG message, IOleClientSite* active_site, LONG index, HWND parent,
                        LPCRECT position) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
    STDMETHODIMP Update() override;
    STDMETHODIMP IsUpToDate() override;
    STDMETHODIMP GetUserClassID(CLSID* clsid) override;
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* user_type) override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP Unadvise(DWORD connection) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** advises) override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE* palette) override;

    // IOleWindow, IOleInPlaceObject, IOleInPlaceObjectWindowless
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enter_mode) override;
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
    STDMETHODIMP ReactivateAndUndo() override;
    STDMETHODIMP OnWindowMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result) override;
    STDMETHODIMP GetDropTarget(IDropTarget** target) override;

    // IOleInPlaceActiveObject
    STDMETHODIMP TranslateAccelerator(LPMSG message) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
    STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
    STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* ui_window, BOOL frame_window) override;
    STDMETHODIMP EnableModeless(BOOL enable) override;

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
    STDMETHODIMP OnMnemonic(MSG* message) override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID id) override;
    STDMETHODIMP FreezeEvents(BOOL freeze) override;

    // IViewObject, IViewObject2, IViewObjectEx
    STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspect_info, DVTARGETDEVICE* device, HDC target_device,
                      HDC draw, LPCRECTL bounds, LPCRECTL window_bounds, BOOL(STDMETHODCALLTYPE* keep_going)(ULONG_PTR),
                      ULONG_PTR keep_going_argument) override;
    STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspect_info, DVTARGETDEVICE* device,
                             HDC target_device, LOGPALETTE** colors) override;
    STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspect_info, DWORD* freeze) override;
    STDMETHODIMP Unfreeze(DWORD freeze) override;
    STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;
    STDMETHODIMP GetRect(DWORD aspect, LPRECTL rect) override;
    STDMETHODIMP GetViewStatus(DWORD* status) override;
    STDMETHODIMP QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG close_hint, DWORD* hit) override;
    STDMETHODIMP QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG close_hint, DWORD* hit) override;
    STDMETHODIMP GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, HDC target_device,
                                  DVEXTENTINFO* info, LPSIZEL size) override;

    // IPersist, IPersistStreamInit, IPersistStorage
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(IStream* stream) override;
    STDMETHODIMP Save(IStream* stream, BOOL clear_dirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    STDMETHODIMP InitNew() override;
    STDMETHODIMP InitNew(IStorage* storage) override;
    STDMETHODIMP Load(IStorage* storage) override;
    STDMETHODIMP Save(IStorage* storage, BOOL same_as_load) override;
    STDMETHODIMP SaveCompleted(IStorage* storage) override;
    STDMETHODIMP HandsOffStorage() override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pages) override;

    // IQuickActivate
    STDMETHODIMP QuickActivate(QACONTAINER* container, QACONTROL* control) override;
    STDMETHODIMP SetContentExtent(LPSIZEL size) override;
    STDMETHODIMP GetContentExtent(LPSIZEL size) override;

    // IDataObject: the picture as a metafile
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP QueryGetData(FORMATETC* format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* format, FORMATETC* canonical) override;
    STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override;
    STDMETHODIMP DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP DUnadvise(DWORD connection) override;
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA** advises) override;

    // IProvideClassInfo, IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

protected:
    // The persisted properties as their gets report them, and their restoration with the puts.
    virtual PersistedProperties PersistedState() const = 0;
    virtual HRESULT ApplyPersistedState(const PersistedProperties& state) = 0;
    // The needs-saving flag.
    virtual bool ControlModified() const = 0;
    virtual void SetControlModified(bool modified) = 0;

private:
    // The object's own IUnknown (the controlling one when aggregated).
    IUnknown* Self() { return static_cast<IOleObject*>(this); }
    HRESULT InPlaceActivate(bool ui_activate, IOleClientSite* active_site);
    HRESULT CreateControlWindow();
    void DestroyControlWindow();
    void NotifyFocus(bool focus);
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    const CLSID& clsid_;
    const IID& default_source_;
    SIZEL extent_{};  // HIMETRIC, fixed: the control sizes itself
    com::Ptr<IOleClientSite> client_site_;
    com::Ptr<IOleInPlaceSite> in_place_site_;
    com::Ptr<IOleInPlaceFrame> frame_;
    com::Ptr<IOleInPlaceUIWindow> ui_window_;
    com::Ptr<IOleAdviseHolder> ole_advise_holder_;
    com::Ptr<IDataAdviseHolder> data_advise_holder_;
    com::Ptr<IAdviseSink> view_sink_;
    DWORD view_sink_aspects_ = 0;
    DWORD view_sink_flags_ = 0;
    HWND window_ = nullptr;
    bool in_place_active_ = false;
    bool ui_active_ = false;
    LONG frozen_events_ = 0;
};

}  // namespace ombrix
