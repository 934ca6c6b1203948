// An event sink for the control's events that records every call, and the control's
// connection point it is advised on.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "control/Ombrix.h"
#include "test_util.h"

namespace test {

struct Call {
    int sink;
    DISPID id;
    std::vector<LONG> arguments;  // in declaration order
};

// An event sink answering IDispatch only, recording every Invoke.
class FakeSink final : public IDispatch {
public:
    FakeSink(int number, std::vector<Call>& log) : number_(number), log_(log) {}

    std::function<void()> on_invoke;
    LCID last_lcid = 0;
    WORD last_flags = 0;
    bool last_iid_null = false;

    STDMETHODIMP QueryInterface(REFIID riid, void** result) override {
        *result = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) return E_NOINTERFACE;
        *result = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the test's stack
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        Call call{number_, id, {}};
        for (UINT i = params->cArgs; i-- > 0;) {
            EXPECT_EQ(V_VT(&params->rgvarg[i]), VT_I4);
            call.arguments.push_back(V_I4(&params->rgvarg[i]));
        }
        log_.push_back(call);
        last_lcid = lcid;
        last_flags = flags;
        last_iid_null = IsEqualIID(riid, IID_NULL);
        if (on_invoke) on_invoke();
        return E_FAIL;  // sink failures are ignored by the control
    }

    ULONG refs() const { return refs_; }

private:
    int number_;
    std::vector<Call>& log_;
    ULONG refs_ = 0;
};

// An event sink that takes every event and does nothing with it (nor allocates anything). It
// lives on its creator's stack; `refs` starts with the creator's reference.
class QuietSink final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** result) override {
        *result = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) return E_NOINTERFACE;
        *result = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return S_OK; }
    ULONG refs = 1;
};

template <class Control>
inline ComPtr<IConnectionPoint> EventsPoint(Control* control) {
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(control->QueryInterface(IID_IConnectionPointContainer, &container), S_OK);
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(DIID__IOmbrixEvents, &point), S_OK);
    return point;
}

}  // namespace test
