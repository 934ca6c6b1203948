// Allocation failure at every allocation of a call in turn: the call answers S_OK, E_OUTOFMEMORY,
// error 8 or an error its operation documents, no exception leaves it, the objects keep working
// afterwards with the same results, and every object is released (module lock count zero).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "allocation_hook.h"
#include "com/module.h"
#include "control/Ombrix.h"
#include "control/fake_sink.h"
#include "control/memory_blobs.h"
#include "test_util.h"

namespace {

using test::Bytes;
using test::ComPtr;

constexpr long kMostAllocations = 3000;

Bytes Sample(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    return bytes;
}

// What a step works on, made while no allocation fails: a control with a key, AES in ECB mode
// without the optimized header (so every run gives the same output) and an advised sink; blobs
// whose text outgrows a new buffer.
struct Objects {
    Objects() {
        EXPECT_EQ(com::GetClassObject(CLSID_Ombrix, IID_PPV_ARGS(&control_factory)), S_OK);
        EXPECT_EQ(com::GetClassObject(CLSID_MemBlob, IID_PPV_ARGS(&blob_factory)), S_OK);
        EXPECT_EQ(control_factory->CreateInstance(nullptr, IID_PPV_ARGS(&control)), S_OK);
        EXPECT_EQ(blob_factory->CreateInstance(nullptr, IID_PPV_ARGS(&text)), S_OK);
        EXPECT_EQ(PutKey(), S_OK);
        control->put_type(AES256);
        control->put_Mode(ECB);
        control->put_Padding(PadPKCS7);
        control->put_Optimized(VARIANT_FALSE);
        point = test::EventsPoint(control.Get());
        EXPECT_EQ(point->Advise(&sink, &cookie), S_OK);
        EXPECT_EQ(text->put_Text(com::Bstr(std::wstring(3000, L'b').c_str()).Get()), S_OK);
    }
    ~Objects() {
        point->Unadvise(cookie);
        EXPECT_EQ(sink.refs, 1u);
    }
    HRESULT PutKey() {
        com::Variant key;
        V_VT(key.Get()) = VT_BSTR;
        V_BSTR(key.Get()) = SysAllocString(L"a secret key of 32 characters...");
        return control->put_SecretKey(*key.Get());
    }

    ComPtr<IClassFactory> control_factory, blob_factory;
    ComPtr<IOmbrix> control;
    ComPtr<IMemBlob> text;
    ComPtr<IBlob> input = test::NewBlob(Sample(5000)), output = test::NewBlob();
    test::QuietSink sink;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    com::Bstr long_text{std::wstring(5000, L'\u00fc').c_str()};
    // Text a call returned.
    com::Bstr returned;

    // What a call produced: the bytes of the output and text blobs in hex and the returned text.
    std::wstring Result() {
        static const wchar_t kDigits[] = L"0123456789abcdef";
        ComPtr<IBlob> stored;
        EXPECT_EQ(text.As(&stored), S_OK);
        std::wstring result;
        for (IBlob* blob : {output.Get(), stored.Get()}) {
            for (uint8_t byte : test::Content(blob)) result += {kDigits[byte >> 4], kDigits[byte & 15]};
            blob->Seek(0, 0, nullptr);
            result += L"|";
        }
        return result + (returned.Get() ? returned.Get() : L"");
    }
};

struct Step {
    const char* name;
    // The call; what it produces goes to the objects' output blob or returned text.
    HRESULT (*call)(Objects& objects);
    // What the call answers when one of its allocations fails, beyond E_OUTOFMEMORY and error 8:
    // the control reports 30003 when it cannot make the algorithm object, 30009 when a read of
    // its data fails, and passes a blob's E_OUTOFMEMORY on as an error report; Invoke turns a
    // member's error report into DISP_E_EXCEPTION.
    std::vector<HRESULT> also = {};
};

const Step kSteps[] = {
    {"control from its class factory",
     [](Objects& o) {
         ComPtr<IOmbrix> control;
         return o.control_factory->CreateInstance(nullptr, IID_PPV_ARGS(&control));
     }},
    {"MemBlob from its class factory",
     [](Objects& o) {
         ComPtr<IMemBlob> blob;
         return o.blob_factory->CreateInstance(nullptr, IID_PPV_ARGS(&blob));
     }},
    {"SecretKey put", [](Objects& o) { return o.PutKey(); }},
    {"Encrypt", [](Objects& o) { return o.control->Encrypt(o.input.Get(), o.output.Get()); },
     {com::ErrorHResult(30003), com::ErrorHResult(E_OUTOFMEMORY)}},
    // A read that fails for lack of memory fails the Digest: never a digest of part of the data.
    {"Digest",
     [](Objects& o) {
         o.control->put_type(SHA256);
         return o.control->Digest(o.input.Get(), o.output.Get());
     },
     {com::ErrorHResult(30003), com::ErrorHResult(30009)}},
    {"MemBlob Text put", [](Objects& o) { return o.text->put_Text(o.long_text.Get()); }},
    {"MemBlob ToHex", [](Objects& o) { return o.text->ToHex(o.returned.Put()); }},
    {"MemBlob FromBase64 and Text get",
     [](Objects& o) {
         const HRESULT hr = o.text->FromBase64(com::Bstr(L"SGVsbG8sIEJhc2U2NA==").Get());
         return FAILED(hr) ? hr : o.text->get_Text(o.returned.Put());
     }},
    {"IDispatch::Invoke of ToHex by name",
     [](Objects& o) {
         ComPtr<IDispatch> dispatch;
         HRESULT hr = o.text.As(&dispatch);
         LPOLESTR name = const_cast<LPOLESTR>(L"ToHex");
         DISPID id = 0;
         if (SUCCEEDED(hr)) hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
         VARIANT value;
         VariantInit(&value);
         DISPPARAMS none{};
         if (SUCCEEDED(hr)) {
             hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &value, nullptr, nullptr);
         }
         if (V_VT(&value) == VT_BSTR) o.returned.Reset(V_BSTR(&value));  // takes it over
         else VariantClear(&value);
         return hr;
     },
     {DISP_E_EXCEPTION}},
};

TEST(AllocationFailure, EveryAllocationOfACallFailsInTurn) {
    for (const Step& step : kSteps) {
        std::vector<HRESULT> allowed = {S_OK, E_OUTOFMEMORY, com::ErrorHResult(8)};
        allowed.insert(allowed.end(), step.also.begin(), step.also.end());
        std::wstring expected;
        {
            Objects objects;
            ASSERT_EQ(step.call(objects), S_OK) << step.name;
            expected = objects.Result();
        }
        long failures = 0;
        for (long nth = 1; nth <= kMostAllocations; ++nth) {
            Objects objects;
            test::FailAllocation(nth);
            const HRESULT hr = step.call(objects);
            const bool failed = test::AllocationFailed();
            test::FailAllocation(0);
            SCOPED_TRACE(testing::Message() << step.name << ", allocation " << nth << ": 0x" << std::hex << hr);
            if (!failed) {
                EXPECT_EQ(hr, S_OK);
                EXPECT_EQ(objects.Result(), expected);
                break;
            }
            ++failures;
            EXPECT_TRUE(std::find(allowed.begin(), allowed.end(), hr) != allowed.end());
            // Success despite the failure must still be the right result.
            if (hr == S_OK) EXPECT_EQ(objects.Result(), expected);
            // The same objects still work and give what an undisturbed run gave.
            EXPECT_EQ(step.call(objects), S_OK);
            EXPECT_EQ(objects.Result(), expected);
        }
        EXPECT_GT(failures, 0) << step.name << " allocates nothing";
        EXPECT_LT(failures, kMostAllocations) << step.name;
        EXPECT_EQ(com::ModuleLockCount(), 0) << step.name;
    }
}

}  // namespace
