// The COM class framework: reference counting with aggregation, interface maps, type-library
// IDispatch and ISupportErrorInfo. A class is written as its bases, interface map, fields and members,
//
//   class CThing : public com::DispatchImpl<IThing>,
//                  public com::ErrorReporting<CThing, ProductErrors, &IID_IThing>,
//                  public com::ObjectRoot {
//   public:
//       COM_INTERFACE_MAP(CThing, COM_INTERFACE(IThing), COM_INTERFACE(ISupportErrorInfo),
//                         COM_INTERFACE_AS(IDispatch, IThing))
//   };
//
// and instantiated only as com::ComObject<CThing>, which supplies IUnknown. ErrorReporting
// (com/error_reporting.h) supplies ISupportErrorInfo, Error(code) and HoldSelf(); a class that
// reports no errors takes SupportErrorInfoImpl alone. No C++ exception may leave the module
// through a COM call: every interface method but AddRef and Release is a function-try-block,
// `STDMETHODIMP CThing::Method(...) try { ... } COM_CATCH`, which answers E_OUTOFMEMORY for
// std::bad_alloc and E_UNEXPECTED for any other exception.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <new>
#include <span>
#include <utility>

#define COM_CATCH                       \
    catch (const std::bad_alloc&) {     \
        return E_OUTOFMEMORY;           \
    }                                   \
    catch (...) {                       \
        return E_UNEXPECTED;            \
    }

#include "com/holders.h"
#include "com/ptr.h"
#include "com/variant_reference.h"

namespace com {

// Module lock count: every live object, enumerator and LockServer(TRUE) holds one.
void ModuleLock();
void ModuleUnlock();
long ModuleLockCount();

// The type information of interface `guid` of the module's type library, cached in `slot` (as
// TakeTypeInfoSlot gave it to the interface; -1 for no cache).
HRESULT GetTypeInfo(int slot, REFGUID guid, ITypeInfo** info);
int TakeTypeInfoSlot();

// The type information of interface I, from a cache slot of its own.
template <class I>
HRESULT TypeInfoOf(ITypeInfo** info) {
    static const int slot = TakeTypeInfoSlot();
    return GetTypeInfo(slot, __uuidof(I), info);
}

template <class Class>
struct InterfaceEntry {
    const IID* iid;
    void* (*cast)(Class*);
};

template <class Class, class Interface, class Via = Interface>
void* CastTo(Class* object) {
    return static_cast<Interface*>(static_cast<Via*>(object));
}

#define COM_INTERFACE(I) ::com::InterfaceEntry<ThisClass>{&IID_##I, &::com::CastTo<ThisClass, I>}
#define COM_INTERFACE_AS(I, Via) ::com::InterfaceEntry<ThisClass>{&IID_##I, &::com::CastTo<ThisClass, I, Via>}
#define COM_INTERFACE_MAP(Class, ...)                                              \
    using ThisClass = Class;                                                       \
    static std::span<const ::com::InterfaceEntry<Class>> InterfaceMap() {          \
        static const ::com::InterfaceEntry<Class> map[] = {__VA_ARGS__};           \
        return map;                                                                \
    }

// State every COM object shares: its reference count and, when aggregated, its outer unknown.
class ObjectRoot {
public:
    ObjectRoot() = default;
    ObjectRoot(const ObjectRoot&) = delete;
    ObjectRoot& operator=(const ObjectRoot&) = delete;
    virtual ~ObjectRoot() = default;

    // Second-phase construction; a failure destroys the object before it is handed out.
    HRESULT FinalConstruct() { return S_OK; }

    // The controlling unknown: the outer object's when aggregated, else the object's own.
    virtual IUnknown* ControllingUnknown() = 0;

    // Adds a reference through the controlling unknown.
    ULONG HoldReference() { return ControllingUnknown()->AddRef(); }

protected:
    IUnknown* outer_ = nullptr;
    // Interlocked: the blob classes are registered for both threading models.
    LONG refs_ = 0;

    template <class>
    friend class ComObject;
};

// The most derived class of every object: implements IUnknown over the class's interface map,
// plain or aggregated.
template <class Class>
class ComObject final : public Class {
public:
    // Creates an object and returns it for riid. With an outer object only IID_IUnknown may be
    // requested, and the result is the new object's non-delegating unknown.
    // A constructor or FinalConstruct that throws leaves no object behind.
    static HRESULT Create(IUnknown* outer, REFIID riid, void** result) try {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        Creation created(outer);
        if (!created.object) return E_OUTOFMEMORY;
        HRESULT hr = created.object->FinalConstruct();
        if (SUCCEEDED(hr)) hr = created.object->inner_.QueryInterface(riid, result);
        return hr;
    } COM_CATCH

    // Creates a plain object; the caller owns one reference and drops it with Release.
    static HRESULT CreateInstance(ComObject** result) try {
        if (!result) return E_POINTER;
        *result = nullptr;
        Creation created(nullptr);
        if (!created.object) return E_OUTOFMEMORY;
        const HRESULT hr = created.object->FinalConstruct();
        if (FAILED(hr)) return hr;
        *result = std::exchange(created.object, nullptr);
        return S_OK;
    } COM_CATCH

    STDMETHODIMP QueryInterface(REFIID riid, void** result) override try {
        return this->outer_ ? this->outer_->QueryInterface(riid, result) : inner_.QueryInterface(riid, result);
    } COM_CATCH
    STDMETHODIMP_(ULONG) AddRef() override { return this->outer_ ? this->outer_->AddRef() : inner_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return this->outer_ ? this->outer_->Release() : inner_.Release(); }

    IUnknown* ControllingUnknown() override { return this->outer_ ? this->outer_ : &inner_; }

private:
    explicit ComObject(IUnknown* outer) : inner_(this) {
        this->outer_ = outer;
        ModuleLock();
    }
    ~ComObject() override { ModuleUnlock(); }

    // The non-delegating unknown that owns the reference count.
    struct Inner final : IUnknown {
        explicit Inner(ComObject* owner) : owner(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** result) override try {
            if (!result) return E_POINTER;
            *result = nullptr;
            if (IsEqualIID(riid, IID_IUnknown)) {
                *result = owner->outer_ ? static_cast<void*>(this) : owner->IdentityPointer();
            } else {
                for (const auto& entry : Class::InterfaceMap()) {
                    if (IsEqualIID(riid, *entry.iid)) {
                        *result = entry.cast(owner);
                        break;
                    }
                }
                if (!*result) return E_NOINTERFACE;
            }
            static_cast<IUnknown*>(*result)->AddRef();
            return S_OK;
        } COM_CATCH
        STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&owner->refs_)); }
        STDMETHODIMP_(ULONG) Release() override {
            const LONG left = InterlockedDecrement(&owner->refs_);
            if (left == 0) {
                // Keep re-entrant AddRef/Release pairs during destruction from deleting twice.
                owner->refs_ = 0x40000000;
                delete owner;
            }
            return static_cast<ULONG>(left);
        }
        ComObject* owner;
    };

    // A new object with its creation reference, which goes with the holder unless the object is
    // taken out: an object that fails (or throws) in FinalConstruct is destroyed.
    struct Creation {
        explicit Creation(IUnknown* outer) : object(new (std::nothrow) ComObject(outer)) {
            if (object) object->inner_.AddRef();
        }
        Creation(const Creation&) = delete;
        Creation& operator=(const Creation&) = delete;
        ~Creation() {
            if (object) object->inner_.Release();
        }
        ComObject* object;
    };

    // Object identity when not aggregated: the first interface of the map.
    void* IdentityPointer() { return Class::InterfaceMap()[0].cast(this); }

    Inner inner_;
};

// IDispatch served from the component's type library for interface I.
template <class I>
class DispatchImpl : public I {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override try { return SetOut(count, 1); } COM_CATCH
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override try {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return com::TypeInfoOf<I>(info);
    } COM_CATCH
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override try {
        Ptr<ITypeInfo> info;
        RETURN_IF_FAILED(com::TypeInfoOf<I>(info.GetAddressOf()));
        return info->GetIDsOfNames(names, count, ids);
    } COM_CATCH
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argument_error) override try {
        // A report left by an earlier call must not be taken for this call's.
        SetErrorInfo(0, nullptr);
        Ptr<ITypeInfo> info;
        RETURN_IF_FAILED(com::TypeInfoOf<I>(info.GetAddressOf()));
        RETURN_IF_FAILED(CheckArguments(info.Get(), id, flags, params, argument_error));
        DispatchArguments arguments(params);
        HRESULT hr = info->Invoke(static_cast<I*>(this), id, flags, arguments.Get(), result, exception, argument_error);
        // Scripts assign objects with Set (a put by reference); properties that take any VARIANT
        // declare only the put, which then receives the object.
        if (hr == DISP_E_MEMBERNOTFOUND && (flags & DISPATCH_PROPERTYPUTREF))
            hr = info->Invoke(static_cast<I*>(this), id, static_cast<WORD>((flags & ~DISPATCH_PROPERTYPUTREF) | DISPATCH_PROPERTYPUT),
                              arguments.Get(), result, exception, argument_error);
        return hr;
    } COM_CATCH
};

// ISupportErrorInfo answering S_OK for the listed interfaces and S_FALSE for every other.
template <const IID*... Supported>
class SupportErrorInfoImpl : public ISupportErrorInfo {
public:
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override try {
        return ((IsEqualIID(riid, *Supported)) || ...) ? S_OK : S_FALSE;
    } COM_CATCH
};

}  // namespace com
