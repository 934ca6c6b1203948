// The built Ombrix.dll as a client sees it: class objects, the unload rule, and aggregation of
// every class by an outer object.
#include <gtest/gtest.h>

#include <ocidl.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "Ombrix_h.h"
#include "com/module_fixture.h"
#include "test_util.h"

using test::ComPtr;

namespace {

using Module = test::LoadedModule;

// The six classes with interfaces each must answer, object-map order.
struct ClassInterfaces {
    const CLSID* clsid;
    std::vector<const IID*> interfaces;
};

const std::vector<ClassInterfaces>& AllClasses() {
    static const std::vector<ClassInterfaces> classes = {
        {&CLSID_Blob, {&IID_IBlob, &IID_IDispatch, &IID_ISupportErrorInfo}},
        {&CLSID_Blob64, {&IID_IBlob64, &IID_IBlob, &IID_IDispatch}},
        {&CLSID_Ombrix, {&IID_IOmbrix, &IID_IDispatch, &IID_IOleObject, &IID_IPersistStreamInit, &IID_IViewObjectEx,
                         &IID_IConnectionPointContainer, &IID_IProvideClassInfo2}},
        {&CLSID_MemBlob, {&IID_IMemBlob, &IID_IBlob, &IID_IDispatch}},
        {&CLSID_FileBlob, {&IID_IFileBlob, &IID_IBlob, &IID_IBlob64, &IID_IDispatch}},
        {&CLSID_StreamBlob, {&IID_IStreamBlob, &IID_IBlob, &IID_IDispatch}},
    };
    return classes;
}

// An outer object: answers IUnknown itself, hands every other request to its inner object,
// and counts the references it receives (its own and those the inner object forwards).
class CountingOuter final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** result) override {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *result = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, result) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        ++add_refs;
        return ++refs;
    }
    STDMETHODIMP_(ULONG) Release() override {
        ++releases;
        return --refs;
    }
    IUnknown* inner = nullptr;
    ULONG refs = 1;
    int add_refs = 0;
    int releases = 0;
};

TEST_F(Module, ClassObjectsAreServedOnceAndUnknownClassesRefused) {
    EXPECT_EQ(can_unload_(), S_OK);
    EXPECT_EQ(get_class_object_(CLSID_Ombrix, IID_IClassFactory, nullptr), E_POINTER);
    ComPtr<IClassFactory> missing;
    EXPECT_EQ(get_class_object_(IID_IBlob, IID_IClassFactory, &missing), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(missing.Get(), nullptr);
    ComPtr<IStream> not_a_factory;
    EXPECT_EQ(get_class_object_(CLSID_MemBlob, IID_IStream, &not_a_factory), E_NOINTERFACE);

    for (const auto& row : AllClasses()) {
        ComPtr<IClassFactory> first, second;
        ASSERT_EQ(get_class_object_(*row.clsid, IID_IClassFactory, &first), S_OK);
        ASSERT_EQ(get_class_object_(*row.clsid, IID_IUnknown, &second), S_OK);
        EXPECT_EQ(static_cast<IUnknown*>(first.Get()), second.Get());
        ComPtr<IUnknown> object;
        EXPECT_EQ(first->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
        ASSERT_EQ(first->CreateInstance(nullptr, *row.interfaces[0], &object), S_OK);
        ASSERT_NE(object.Get(), nullptr);
        ComPtr<IStream> refused;
        EXPECT_EQ(first->CreateInstance(nullptr, IID_IStream, &refused), E_NOINTERFACE);
        EXPECT_EQ(refused.Get(), nullptr);
    }
    EXPECT_EQ(can_unload_(), S_OK);
}

TEST_F(Module, CanUnloadOnlyWhenNoObjectLockOrHeldClassObjectLives) {
    ASSERT_EQ(can_unload_(), S_OK);
    for (const auto& row : AllClasses()) {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(get_class_object_(*row.clsid, IID_IClassFactory, &factory), S_OK);
        EXPECT_EQ(can_unload_(), S_FALSE) << "a held class object";
        ComPtr<IUnknown> object;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &object), S_OK);
        factory.Reset();
        EXPECT_EQ(can_unload_(), S_FALSE) << "a live object";
        // A second reference through another interface holds no extra lock of its own.
        ComPtr<IUnknown> other;
        ASSERT_EQ(object->QueryInterface(*row.interfaces[0], &other), S_OK);
        object.Reset();
        EXPECT_EQ(can_unload_(), S_FALSE);
        other.Reset();
        EXPECT_EQ(can_unload_(), S_OK);

        ASSERT_EQ(get_class_object_(*row.clsid, IID_IClassFactory, &factory), S_OK);
        EXPECT_EQ(factory->LockServer(TRUE), S_OK);
        factory.Reset();
        EXPECT_EQ(can_unload_(), S_FALSE) << "a server lock";
        ASSERT_EQ(get_class_object_(*row.clsid, IID_IClassFactory, &factory), S_OK);
        EXPECT_EQ(factory->LockServer(FALSE), S_OK);
        factory.Reset();
        EXPECT_EQ(can_unload_(), S_OK);
    }
}

TEST_F(Module, AnUnbalancedUnlockIsRefusedAndReleasesNoObjectsLock) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(get_class_object_(CLSID_MemBlob, IID_IClassFactory, &factory), S_OK);
    ComPtr<IMemBlob> blob;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IMemBlob, &blob), S_OK);
    factory.Reset();
    ASSERT_EQ(get_class_object_(CLSID_MemBlob, IID_IClassFactory, &factory), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED);
    factory.Reset();
    EXPECT_EQ(can_unload_(), S_FALSE);  // the blob still holds its lock
    blob.Reset();
    EXPECT_EQ(can_unload_(), S_OK);
}

TEST_F(Module, EveryClassAggregatesAndDelegatesItsReferences) {
    for (const auto& row : AllClasses()) {
        SCOPED_TRACE(testing::Message() << "class #" << (&row - AllClasses().data()));
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(get_class_object_(*row.clsid, IID_IClassFactory, &factory), S_OK);
        CountingOuter outer;

        IUnknown* refused = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(factory->CreateInstance(&outer, *row.interfaces[0], reinterpret_cast<void**>(&refused)),
                  CLASS_E_NOAGGREGATION);
        EXPECT_EQ(refused, nullptr);
        EXPECT_EQ(outer.refs, 1u);

        ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
        factory.Reset();
        EXPECT_EQ(outer.refs, 1u) << "the inner object holds no reference on its outer object";

        for (const IID* iid : row.interfaces) {
            IUnknown* part = nullptr;
            // Asked through the outer object, as a client of the aggregate asks.
            ASSERT_EQ(outer.QueryInterface(*iid, reinterpret_cast<void**>(&part)), S_OK);
            EXPECT_EQ(outer.refs, 2u) << "the interface's reference went to the outer object";
            const int add_refs = outer.add_refs;
            const int releases = outer.releases;
            part->AddRef();
            part->Release();
            EXPECT_EQ(outer.add_refs, add_refs + 1);
            EXPECT_EQ(outer.releases, releases + 1);
            IUnknown* identity = nullptr;
            ASSERT_EQ(part->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
            EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
            identity->Release();
            // Any interface of the inner object reaches every other one through the outer.
            IUnknown* sibling = nullptr;
            EXPECT_EQ(part->QueryInterface(*row.interfaces[0], reinterpret_cast<void**>(&sibling)), S_OK);
            if (sibling) sibling->Release();
            part->Release();
            EXPECT_EQ(outer.refs, 1u);
        }
        EXPECT_EQ(can_unload_(), S_FALSE);
        EXPECT_EQ(outer.inner->Release(), 0u);
        EXPECT_EQ(outer.refs, 1u);
        EXPECT_EQ(can_unload_(), S_OK);
    }
}

TEST_F(Module, AnAggregatedMemBlobWorksThroughItsOuterObject) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(get_class_object_(CLSID_MemBlob, IID_IClassFactory, &factory), S_OK);
    CountingOuter outer;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    factory.Reset();
    {
        ComPtr<IMemBlob> mem;
        ComPtr<IBlob> blob;
        ASSERT_EQ(outer.QueryInterface(IID_PPV_ARGS(&mem)), S_OK);
        ASSERT_EQ(outer.QueryInterface(IID_PPV_ARGS(&blob)), S_OK);
        ASSERT_EQ(mem->put_Text(com::Bstr(L"abc").Get()), S_OK);
        LONG position = -1;
        EXPECT_EQ(blob->Seek(0, 2, &position), S_OK);
        EXPECT_EQ(position, 3);
    }
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(outer.inner->Release(), 0u);
    EXPECT_EQ(can_unload_(), S_OK);
}

}  // namespace
