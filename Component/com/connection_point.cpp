#include "com/connection_point.h"

#include <algorithm>
#include <utility>

namespace com {
namespace {

// A snapshot enumerator over AddRef'ed items; holds the module and its items alive.
template <class Enum, class Item, class Traits>
class Enumerator final : public Enum {
public:
    explicit Enumerator(std::vector<Item> items) : items_(std::move(items)) {
        for (auto& item : items_) Traits::Hold(item);
        ModuleLock();
    }
    ~Enumerator() {
        for (auto& item : items_) Traits::Drop(item);
        ModuleUnlock();
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** result) override try {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, __uuidof(Enum))) return E_NOINTERFACE;
        *result = static_cast<Enum*>(this);
        AddRef();
        return S_OK;
    } COM_CATCH
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }

    STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override try {
        if (!out || (count > 1 && !fetched)) return E_POINTER;
        ULONG done = 0;
        while (done < count && position_ < items_.size()) {
            out[done] = items_[position_++];
            Traits::Hold(out[done]);
            ++done;
        }
        if (fetched) *fetched = done;
        return done == count ? S_OK : S_FALSE;
    } COM_CATCH
    STDMETHODIMP Skip(ULONG count) override try {
        const size_t left = items_.size() - position_;
        position_ += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    } COM_CATCH
    STDMETHODIMP Reset() override try {
        position_ = 0;
        return S_OK;
    } COM_CATCH
    STDMETHODIMP Clone(Enum** result) override try {
        if (!result) return E_POINTER;
        auto* clone = new (std::nothrow) Enumerator(items_);
        *result = clone;
        if (!clone) return E_OUTOFMEMORY;
        clone->position_ = position_;
        return S_OK;
    } COM_CATCH

private:
    LONG refs_ = 1;
    std::vector<Item> items_;
    size_t position_ = 0;
};

struct ConnectDataTraits {
    static void Hold(CONNECTDATA& data) { data.pUnk->AddRef(); }
    static void Drop(CONNECTDATA& data) { data.pUnk->Release(); }
};
struct PointTraits {
    static void Hold(IConnectionPoint*& point) { point->AddRef(); }
    static void Drop(IConnectionPoint*& point) { point->Release(); }
};

template <class Enum, class Item, class Traits>
HRESULT MakeEnumerator(std::vector<Item> items, Enum** result) {
    if (!result) return E_POINTER;
    *result = new (std::nothrow) Enumerator<Enum, Item, Traits>(std::move(items));
    return *result ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

void ConnectionPoint::Invoke(DISPID id, const LONG* arguments, UINT count) {
    // DISPPARAMS takes the arguments last first.
    VARIANTARG args[4];
    if (count > 4) count = 4;
    for (UINT i = 0; i < count; ++i) {
        VariantInit(&args[i]);
        V_VT(&args[i]) = VT_I4;
        V_I4(&args[i]) = arguments[count - 1 - i];
    }
    DISPPARAMS params{count ? args : nullptr, nullptr, count, 0};

    // Work on a held copy: a sink may advise, unadvise or drop the container while it runs.
    // Without memory for the copy the event is not delivered; the caller's work goes on.
    std::vector<Ptr<IDispatch>> targets;
    try {
        targets.reserve(sinks_.size());
    } catch (const std::bad_alloc&) {
        return;
    }
    for (const auto& sink : sinks_) targets.push_back(sink.dispatch);
    for (const auto& target : targets) {
        VARIANT ignored;
        VariantInit(&ignored);
        target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &ignored, nullptr, nullptr);
        VariantClear(&ignored);
    }
}

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID riid, void** result) try {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
    *result = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
} COM_CATCH

STDMETHODIMP_(ULONG) ConnectionPoint::AddRef() { return container_.HoldReference(); }

STDMETHODIMP_(ULONG) ConnectionPoint::Release() { return container_.ControllingUnknown()->Release(); }

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) try { return com::SetOut(iid, iid_); } COM_CATCH

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) try {
    if (!container) return E_POINTER;
    *container = &container_interface_;
    container_interface_.AddRef();
    return S_OK;
} COM_CATCH

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) try {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    // Script and host sinks often answer only IDispatch for an event dispinterface.
    Ptr<IDispatch> dispatch = TryQuery<IDispatch>(sink, iid_);
    if (!dispatch) dispatch = TryQuery<IDispatch>(sink);
    if (!dispatch) return CONNECT_E_CANNOTCONNECT;
    sinks_.push_back({next_cookie_, std::move(dispatch)});
    *cookie = next_cookie_++;
    return S_OK;
} COM_CATCH

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) try {
    auto found = std::find_if(sinks_.begin(), sinks_.end(), [cookie](const Sink& s) { return s.cookie == cookie; });
    if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
    // The sink is released after it has left the list: its release may call back into the point.
    const Ptr<IDispatch> dispatch = std::move(found->dispatch);
    sinks_.erase(found);
    return S_OK;
} COM_CATCH

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** connections) try {
    if (!connections) return E_POINTER;
    *connections = nullptr;
    std::vector<CONNECTDATA> items;
    for (auto& sink : sinks_) items.push_back({sink.dispatch.Get(), sink.cookie});
    return MakeEnumerator<IEnumConnections, CONNECTDATA, ConnectDataTraits>(std::move(items), connections);
} COM_CATCH

STDMETHODIMP ConnectionPointContainerImpl::EnumConnectionPoints(IEnumConnectionPoints** points) try {
    if (!points) return E_POINTER;
    *points = nullptr;
    std::vector<IConnectionPoint*> items(ConnectionPoints().begin(), ConnectionPoints().end());
    return MakeEnumerator<IEnumConnectionPoints, IConnectionPoint*, PointTraits>(std::move(items), points);
} COM_CATCH

STDMETHODIMP ConnectionPointContainerImpl::FindConnectionPoint(REFIID riid, IConnectionPoint** point) try {
    if (!point) return E_POINTER;
    *point = nullptr;
    for (ConnectionPoint* candidate : ConnectionPoints()) {
        if (IsEqualIID(riid, candidate->Iid())) {
            *point = candidate;
            candidate->AddRef();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
} COM_CATCH

}  // namespace com
