// Error reports reach clients of every interface whose members raise them, and no report
// outlives the call that made it.
#include <gtest/gtest.h>

#include "blobs/FileBlob.h"
#include "blobs/MemBlob.h"
#include "blobs/StreamBlob.h"
#include "control/Ombrix.h"
#include "test_util.h"

using test::ComPtr;

namespace {

template <class T>
ComPtr<ISupportErrorInfo> SupportOf() {
    ComPtr<ISupportErrorInfo> support;
    EXPECT_EQ(com::ComObject<T>::Create(nullptr, IID_ISupportErrorInfo, &support), S_OK);
    return support;
}

TEST(ErrorInfo, BlobsAnswerForEveryInterfaceThatRaisesErrors) {
    auto mem = SupportOf<ombrix::CMemBlob>();
    EXPECT_EQ(mem->InterfaceSupportsErrorInfo(IID_IMemBlob), S_OK);
    EXPECT_EQ(mem->InterfaceSupportsErrorInfo(IID_IBlob), S_OK);
    EXPECT_EQ(mem->InterfaceSupportsErrorInfo(IID_IFileBlob), S_FALSE);
    auto file = SupportOf<ombrix::CFileBlob>();
    EXPECT_EQ(file->InterfaceSupportsErrorInfo(IID_IFileBlob), S_OK);
    EXPECT_EQ(file->InterfaceSupportsErrorInfo(IID_IBlob), S_OK);
    EXPECT_EQ(file->InterfaceSupportsErrorInfo(IID_IBlob64), S_OK);
    EXPECT_EQ(file->InterfaceSupportsErrorInfo(IID_IMemBlob), S_FALSE);
    auto stream = SupportOf<ombrix::CStreamBlob>();
    EXPECT_EQ(stream->InterfaceSupportsErrorInfo(IID_IStreamBlob), S_OK);
    EXPECT_EQ(stream->InterfaceSupportsErrorInfo(IID_IBlob), S_OK);
    EXPECT_EQ(stream->InterfaceSupportsErrorInfo(IID_IBlob64), S_FALSE);
    auto control = SupportOf<ombrix::COmbrix>();
    EXPECT_EQ(control->InterfaceSupportsErrorInfo(IID_IOmbrix), S_OK);
    EXPECT_EQ(control->InterfaceSupportsErrorInfo(IID_IOleObject), S_FALSE);
}

// The members that raise: an IMemBlob member of a memory blob and an IBlob member of a stream
// blob without a stream; each report reaches a vtable client.
TEST(ErrorInfo, ReportsOfBlobMembersCarryTheTableMessage) {
    ComPtr<IMemBlob> mem;
    ASSERT_EQ(com::ComObject<ombrix::CMemBlob>::Create(nullptr, IID_IMemBlob, &mem), S_OK);
    const std::wstring missing = test::TempPath(L"ombrix_error_info_missing.bin");
    test::ExpectErrorReport(mem->FromFile(com::Bstr(missing.c_str()).Get()), 2, L"Kestrane.MemBlob.2");

    ComPtr<IBlob> stream_blob;
    ASSERT_EQ(com::ComObject<ombrix::CStreamBlob>::Create(nullptr, IID_IBlob, &stream_blob), S_OK);
    LONG position = 0;
    test::ExpectErrorReport(stream_blob->Seek(0, 0, &position), 30018, L"Kestrane.StreamBlob.2");
}

TEST(ErrorInfo, ADispatchCallLeavesNoStaleReport) {
    ComPtr<IDispatch> control;
    ASSERT_EQ(com::ComObject<ombrix::COmbrix>::Create(nullptr, IID_IDispatch, &control), S_OK);
    VARIANT value;
    V_VT(&value) = VT_I4;
    V_I4(&value) = 12;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    EXCEPINFO exception{};
    ASSERT_EQ(control->Invoke(0, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, &exception, nullptr),
              DISP_E_EXCEPTION);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
    // Leave a report on the thread, as a failed call does, then succeed.
    com::ReportError(30004, L"Kestrane.Ombrix.1", CLSID_Ombrix);
    V_I4(&value) = DES;
    ASSERT_EQ(control->Invoke(0, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
    ComPtr<IErrorInfo> stale;
    EXPECT_EQ(GetErrorInfo(0, &stale), S_FALSE);
    EXPECT_EQ(stale.Get(), nullptr);
}

}  // namespace
