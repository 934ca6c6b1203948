// The class framework: identity, aggregation, the module lock count, type-library IDispatch
// and the class objects.
#include "com/object.h"

#include <gtest/gtest.h>

#include "com/module.h"
#include "control/Ombrix.h"
#include "test_util.h"

using ombrix::COmbrix;
using Control = com::ComObject<COmbrix>;
using test::ComPtr;

namespace {

// An outer object that counts the references its aggregated inner object forwards to it.
class FakeOuter final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** result) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *result = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, result) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    IUnknown* inner = nullptr;
    ULONG refs = 1;
};

TEST(Framework, QueryInterfaceKeepsOneIdentityAndRefusesUnknownInterfaces) {
    ComPtr<IOmbrix> control;
    ASSERT_EQ(Control::Create(nullptr, IID_IOmbrix, &control), S_OK);
    ComPtr<IUnknown> unknown1, unknown2;
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(control.As(&support), S_OK);
    control->QueryInterface(IID_IUnknown, &unknown1);
    support->QueryInterface(IID_IUnknown, &unknown2);
    EXPECT_EQ(unknown1.Get(), unknown2.Get());
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(control.As(&dispatch), S_OK);
    EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(control.Get()));
    ComPtr<IStream> stream;
    EXPECT_EQ(control.As(&stream), E_NOINTERFACE);
    EXPECT_EQ(control->QueryInterface(IID_IOmbrix, nullptr), E_POINTER);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IOmbrix), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

TEST(Framework, AggregatedObjectDelegatesToItsOuterUnknown) {
    FakeOuter outer;
    ComPtr<IOmbrix> refused;
    EXPECT_EQ(Control::Create(&outer, IID_IOmbrix, &refused), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(refused.Get(), nullptr);

    IUnknown* inner = nullptr;
    ASSERT_EQ(Control::Create(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    outer.inner = inner;
    const ULONG before = outer.refs;
    IOmbrix* control = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IOmbrix, reinterpret_cast<void**>(&control)), S_OK);
    EXPECT_EQ(outer.refs, before + 1);  // the interface's reference went to the outer object

    IUnknown* identity = nullptr;
    control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    control->Release();
    EXPECT_EQ(outer.refs, before);
    EXPECT_EQ(inner->Release(), 0u);
}

TEST(Framework, LiveObjectsHoldTheModuleLock) {
    const long base = com::ModuleLockCount();
    IOmbrix* control = nullptr;
    ASSERT_EQ(Control::Create(nullptr, IID_IOmbrix, reinterpret_cast<void**>(&control)), S_OK);
    EXPECT_EQ(com::ModuleLockCount(), base + 1);
    control->Release();
    EXPECT_EQ(com::ModuleLockCount(), base);
}

TEST(Framework, DispatchIsServedFromTheTypeLibrary) {
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(Control::Create(nullptr, IID_IDispatch, &dispatch), S_OK);
    UINT count = 0;
    dispatch->GetTypeInfoCount(&count);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &info), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IOmbrix));
    info->ReleaseTypeAttr(attributes);

    const struct { const wchar_t* name; DISPID id; } names[] = {
        {L"type", 0}, {L"Encrypt", 4}, {L"Decrypt", 3}, {L"SecretKey", 9}, {L"Version", 12}, {L"About", -552},
        {L"Abort", 1}, {L"DebugFile", 13}, {L"InitVector", 15}, {L"HMAC", 19}, {L"SignEXE", 21}, {L"FIPS", 22},
        {L"Encoding", 23},
    };
    for (const auto& entry : names) {
        LPOLESTR name = const_cast<LPOLESTR>(entry.name);
        DISPID id = 12345;
        ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK) << entry.name;
        EXPECT_EQ(id, entry.id) << entry.name;
    }

    // Property get and a failing put through Invoke, with the error carried in EXCEPINFO.
    DISPPARAMS none{};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(dispatch->Invoke(12, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    ASSERT_EQ(V_VT(&result), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&result), L"2.2.5.115");
    VariantClear(&result);

    VARIANT value;
    V_VT(&value) = VT_I4;
    V_I4(&value) = 12;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    EXCEPINFO exception{};
    EXPECT_EQ(dispatch->Invoke(0, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, &exception, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<uint32_t>(exception.scode), 0x800A7534u);
    ASSERT_NE(exception.bstrDescription, nullptr);
    EXPECT_STREQ(exception.bstrDescription, L"Selected Type not supported.");
    EXPECT_STREQ(exception.bstrSource, L"Kestrane.Ombrix.1");
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
}

TEST(Framework, ClassObjectsAreMadeOnceAndCountLocks) {
    ComPtr<IClassFactory> factory1, factory2;
    EXPECT_EQ(com::GetClassObject(CLSID_Ombrix, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(com::GetClassObject(IID_IOmbrix, IID_IClassFactory, &factory1), CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(com::GetClassObject(CLSID_Ombrix, IID_IClassFactory, &factory1), S_OK);
    ASSERT_EQ(com::GetClassObject(CLSID_Ombrix, IID_IClassFactory, &factory2), S_OK);
    EXPECT_EQ(factory1.Get(), factory2.Get());
    factory2.Reset();

    const long held = com::ModuleLockCount();
    factory1->LockServer(TRUE);
    EXPECT_EQ(com::ModuleLockCount(), held + 1);
    factory1->LockServer(FALSE);
    EXPECT_EQ(com::ModuleLockCount(), held);

    ComPtr<IOmbrix> control;
    ASSERT_EQ(factory1->CreateInstance(nullptr, IID_IOmbrix, &control), S_OK);
    EXPECT_EQ(com::ModuleLockCount(), held + 1);
    FakeOuter outer;
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(factory1->CreateInstance(&outer, IID_IOmbrix, &aggregated), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory1->CreateInstance(&outer, IID_IUnknown, &aggregated), S_OK);
    control.Reset();
    aggregated.Reset();
    factory1.Reset();
    EXPECT_EQ(com::ModuleLockCount(), 0);
}

}  // namespace
