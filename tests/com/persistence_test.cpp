// The control's persistence: the property stream byte for byte, round trips through a stream
// and a structured storage, the modified flag, and refused streams that change nothing.
#include <gtest/gtest.h>

#include <ole2.h>

#include <string>
#include <vector>

#include "binding/fips.h"
#include "com/module.h"
#include "control/Ombrix.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "test_util.h"

using test::ComPtr;

namespace {

using Bytes = std::vector<uint8_t>;
using Control = com::ComObject<ombrix::COmbrix>;

// The stream of a control with type 4 (AES256), Mode 1 (CBC), FireEvents false, the rest default.
const Bytes kSavedAes256Cbc = {0x00, 0x09, 0x00, 0x00, 0x03, 0x00, 0x04, 0x00, 0x00, 0x00, 0x0B, 0x00,
                               0xFF, 0xFF, 0x0B, 0x00, 0x00, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00,
                               0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00};

ComPtr<IOmbrix> NewControl() {
    ComPtr<IOmbrix> control;
    EXPECT_EQ(Control::Create(nullptr, IID_IOmbrix, &control), S_OK);
    return control;
}

ComPtr<IStream> NewStream(const Bytes& bytes = {}) {
    ComPtr<IStream> stream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ULONG written = 0;
    if (!bytes.empty()) stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    return stream;
}

Bytes StreamBytes(IStream* stream) {
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    Bytes bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    ULONG got = 0;
    if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
    bytes.resize(got);
    return bytes;
}

// The six persisted properties and the two that are not, as the gets report them.
struct Snapshot {
    LONG type, mode, padding, compression;
    VARIANT_BOOL optimized, fire_events;
    bool operator==(const Snapshot&) const = default;
};

Snapshot Take(IOmbrix* control) {
    Snapshot s{};
    CryptoTypes type{};
    CryptoModes mode{};
    CryptoPadding padding{};
    CryptoCompression compression{};
    control->get_type(&type);
    control->get_Mode(&mode);
    control->get_Padding(&padding);
    control->get_Compression(&compression);
    control->get_Optimized(&s.optimized);
    control->get_FireEvents(&s.fire_events);
    s.type = type;
    s.mode = mode;
    s.padding = padding;
    s.compression = compression;
    return s;
}

ComPtr<IPersistStreamInit> StreamPersistence(IOmbrix* control) {
    ComPtr<IPersistStreamInit> persist;
    EXPECT_EQ(control->QueryInterface(IID_PPV_ARGS(&persist)), S_OK);
    return persist;
}

// A control with values of its own everywhere, so that any change by a refused load shows.
ComPtr<IOmbrix> DistinctControl() {
    ComPtr<IOmbrix> control = NewControl();
    control->put_type(SHA256);
    control->put_Optimized(VARIANT_FALSE);
    control->put_Mode(OFB);
    control->put_Padding(PadPKCS7);
    control->put_Compression(GZipCompression);
    return control;
}

void Append(Bytes& bytes, const void* data, size_t count) {
    const auto* begin = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), begin, begin + count);
}

// A class object that counts the objects asked of it: no load may ever create one.
class CountingFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** result) override {
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
            *result = nullptr;
            return E_NOINTERFACE;
        }
        *result = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** result) override {
        ++created;
        *result = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    int created = 0;
};

TEST(Persistence, SavesTheVersionWordAndSixTypedVariants) {
    ComPtr<IOmbrix> control = NewControl();
    ASSERT_EQ(control->put_type(AES256), S_OK);
    ASSERT_EQ(control->put_Mode(CBC), S_OK);
    ASSERT_EQ(control->put_FireEvents(VARIANT_FALSE), S_OK);
    // Not persisted: they must not reach the stream.
    VARIANT key;
    V_VT(&key) = VT_BSTR;
    V_BSTR(&key) = SysAllocString(L"a secret");
    ASSERT_EQ(control->put_SecretKey(key), S_OK);
    VariantClear(&key);
    ASSERT_EQ(control->put_Encoding(1252), S_OK);

    auto persist = StreamPersistence(control.Get());
    ULARGE_INTEGER size{};
    ASSERT_EQ(persist->GetSizeMax(&size), S_OK);
    ComPtr<IStream> stream = NewStream();
    ASSERT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
    const Bytes saved = StreamBytes(stream.Get());
    EXPECT_EQ(saved, kSavedAes256Cbc);
    EXPECT_EQ(size.QuadPart, saved.size());
    control->put_Encoding(65001);
}

TEST(Persistence, ReloadsThePersistedValuesAndNothingElse) {
    ComPtr<IOmbrix> loaded = NewControl();
    ASSERT_EQ(StreamPersistence(loaded.Get())->Load(NewStream(kSavedAes256Cbc).Get()), S_OK);
    const Snapshot s = Take(loaded.Get());
    EXPECT_EQ(s.type, AES256);
    EXPECT_EQ(s.mode, CBC);
    EXPECT_EQ(s.fire_events, VARIANT_FALSE);
    EXPECT_EQ(s.optimized, VARIANT_TRUE);
    EXPECT_EQ(s.padding, PadNull);
    EXPECT_EQ(s.compression, NoCompression);
    VARIANT key;
    VariantInit(&key);
    ASSERT_EQ(loaded->get_SecretKey(&key), S_OK);
    EXPECT_EQ(V_VT(&key), VT_EMPTY);
    short block = 0;
    loaded->get_BlockSize(&block);
    EXPECT_EQ(block, 16);

    // A load over a control with other values puts every one of the six.
    ComPtr<IOmbrix> other = DistinctControl();
    ASSERT_EQ(StreamPersistence(other.Get())->Load(NewStream(kSavedAes256Cbc).Get()), S_OK);
    EXPECT_EQ(Take(other.Get()), s);
}

TEST(Persistence, TwoControlsBackToBackReloadInOrder) {
    ComPtr<IOmbrix> first = NewControl();
    first->put_type(AES256);
    first->put_Mode(CBC);
    ComPtr<IOmbrix> second = DistinctControl();
    ComPtr<IStream> stream = NewStream();
    ASSERT_EQ(StreamPersistence(first.Get())->Save(stream.Get(), FALSE), S_OK);
    ASSERT_EQ(StreamPersistence(second.Get())->Save(stream.Get(), FALSE), S_OK);
    EXPECT_EQ(StreamBytes(stream.Get()).size(), 72u);

    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    ComPtr<IOmbrix> first_again = NewControl(), second_again = NewControl();
    ASSERT_EQ(StreamPersistence(first_again.Get())->Load(stream.Get()), S_OK);
    ASSERT_EQ(StreamPersistence(second_again.Get())->Load(stream.Get()), S_OK);
    EXPECT_EQ(Take(first_again.Get()), Take(first.Get()));
    EXPECT_EQ(Take(second_again.Get()), Take(second.Get()));
    // The stream is consumed exactly: a third load finds nothing.
    ComPtr<IOmbrix> third = NewControl();
    EXPECT_EQ(StreamPersistence(third.Get())->Load(stream.Get()), STG_E_READFAULT);
}

TEST(Persistence, OleSaveAndOleLoadUseTheSameContentsStream) {
    // OleLoad creates the control by its CLSID: this program's own class object serves it.
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(com::GetClassObject(CLSID_Ombrix, IID_PPV_ARGS(&factory)), S_OK);
    DWORD registration = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_Ombrix, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                    &registration), S_OK);

    ComPtr<IStorage> storage;
    ASSERT_EQ(StgCreateDocfile(nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE, 0,
                               &storage), S_OK);
    ComPtr<IOmbrix> control = DistinctControl();
    ComPtr<IPersistStorage> persist;
    ASSERT_EQ(control.As(&persist), S_OK);
    ASSERT_EQ(persist->InitNew(storage.Get()), S_OK);
    ASSERT_EQ(OleSave(persist.Get(), storage.Get(), TRUE), S_OK);
    EXPECT_EQ(persist->SaveCompleted(nullptr), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);

    CLSID stored{};
    EXPECT_EQ(ReadClassStg(storage.Get(), &stored), S_OK);
    EXPECT_TRUE(IsEqualCLSID(stored, CLSID_Ombrix));
    {
        ComPtr<IStream> contents;
        ASSERT_EQ(storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &contents), S_OK);
        ComPtr<IStream> direct = NewStream();
        ASSERT_EQ(StreamPersistence(control.Get())->Save(direct.Get(), FALSE), S_OK);
        EXPECT_EQ(StreamBytes(contents.Get()), StreamBytes(direct.Get()));
    }

    ComPtr<IOmbrix> loaded;
    ASSERT_EQ(OleLoad(storage.Get(), IID_IOmbrix, nullptr, reinterpret_cast<void**>(loaded.GetAddressOf())), S_OK);
    ASSERT_NE(loaded.Get(), nullptr);
    EXPECT_EQ(Take(loaded.Get()), Take(control.Get()));
    ComPtr<IPersistStorage> loaded_persist;
    ASSERT_EQ(loaded.As(&loaded_persist), S_OK);
    EXPECT_EQ(loaded_persist->IsDirty(), S_FALSE);
    EXPECT_EQ(CoRevokeClassObject(registration), S_OK);
}

TEST(Persistence, TheModifiedFlagFollowsConstructionSavesLoadsAndPuts) {
    ComPtr<IOmbrix> control = NewControl();
    auto persist = StreamPersistence(control.Get());
    EXPECT_EQ(persist->IsDirty(), S_OK) << "a new control starts modified";
    ASSERT_EQ(persist->Save(NewStream().Get(), FALSE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_OK) << "a save that does not ask for it keeps the flag";
    ASSERT_EQ(persist->Save(NewStream().Get(), TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    ASSERT_EQ(control->put_Mode(CFB), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    ASSERT_EQ(persist->Load(NewStream(kSavedAes256Cbc).Get()), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    ASSERT_EQ(control->put_Compression(ZlibCompression), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE) << "a Compression put leaves the flag alone";
    ASSERT_EQ(control->put_Padding(PadSpace), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_OK);

    ComPtr<IPersistStorage> storage_persist;
    ASSERT_EQ(control.As(&storage_persist), S_OK);
    EXPECT_EQ(storage_persist->IsDirty(), S_OK);
}

TEST(Persistence, AnyContainerCallOrderGivesADefinedResult) {
    ComPtr<IOmbrix> control = NewControl();
    auto persist = StreamPersistence(control.Get());
    ComPtr<IPersistStorage> storage_persist;
    ASSERT_EQ(control.As(&storage_persist), S_OK);
    // Saved before any InitNew, loaded twice, initialised after loading.
    ComPtr<IStream> stream = NewStream();
    EXPECT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
    EXPECT_EQ(persist->Load(NewStream(kSavedAes256Cbc).Get()), S_OK);
    EXPECT_EQ(persist->Load(NewStream(kSavedAes256Cbc).Get()), S_OK);
    EXPECT_EQ(persist->InitNew(), S_OK);
    EXPECT_EQ(Take(control.Get()).type, AES256);

    EXPECT_EQ(persist->Load(nullptr), E_POINTER);
    EXPECT_EQ(persist->Save(nullptr, TRUE), E_POINTER);
    EXPECT_EQ(persist->GetSizeMax(nullptr), E_POINTER);
    EXPECT_EQ(persist->GetClassID(nullptr), E_POINTER);
    CLSID clsid{};
    EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Ombrix));
    EXPECT_EQ(storage_persist->InitNew(nullptr), E_POINTER);
    EXPECT_EQ(storage_persist->Load(nullptr), E_POINTER);
    EXPECT_EQ(storage_persist->Save(nullptr, TRUE), E_POINTER);

    // A storage without a "Contents" stream.
    ComPtr<IStorage> empty;
    ASSERT_EQ(StgCreateDocfile(nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE, 0,
                               &empty), S_OK);
    const Snapshot before = Take(control.Get());
    EXPECT_EQ(storage_persist->Load(empty.Get()), STG_E_FILENOTFOUND);
    EXPECT_EQ(Take(control.Get()), before);
    EXPECT_EQ(storage_persist->HandsOffStorage(), S_OK);
    EXPECT_EQ(storage_persist->Save(empty.Get(), FALSE), S_OK);
    EXPECT_EQ(storage_persist->Load(empty.Get()), S_OK);
}

// Every refused stream: the load fails and not one of the six properties, nor the flag, changes.
class RefusedStream : public testing::Test {
protected:
    void SetUp() override {
        control_ = DistinctControl();
        persist_ = StreamPersistence(control_.Get());
        ASSERT_EQ(persist_->Save(NewStream().Get(), TRUE), S_OK);
        before_ = Take(control_.Get());
        lock_count_ = com::ModuleLockCount();
    }
    void ExpectRefused(const Bytes& bytes, HRESULT expected) {
        EXPECT_EQ(persist_->Load(NewStream(bytes).Get()), expected);
        EXPECT_EQ(Take(control_.Get()), before_);
        EXPECT_EQ(persist_->IsDirty(), S_FALSE);
        EXPECT_EQ(com::ModuleLockCount(), lock_count_) << "no object was created";
    }
    static Bytes WithTypeVariant(VARTYPE type, const void* value, size_t size) {
        Bytes bytes(kSavedAes256Cbc.begin(), kSavedAes256Cbc.begin() + 4);
        Append(bytes, &type, sizeof type);
        Append(bytes, value, size);
        bytes.insert(bytes.end(), kSavedAes256Cbc.begin() + 10, kSavedAes256Cbc.end());
        return bytes;
    }

    ComPtr<IOmbrix> control_;
    ComPtr<IPersistStreamInit> persist_;
    Snapshot before_{};
    long lock_count_ = 0;
};

TEST_F(RefusedStream, NewerVersionsFailWithEFail) {
    for (uint32_t version : {0x901u, 0x1000u, 0xFFFFFFFFu}) {
        Bytes bytes = kSavedAes256Cbc;
        memcpy(bytes.data(), &version, 4);
        ExpectRefused(bytes, E_FAIL);
    }
    // Older version words are read as this one.
    Bytes older = kSavedAes256Cbc;
    older[1] = 0x08;
    EXPECT_EQ(persist_->Load(NewStream(older).Get()), S_OK);
    EXPECT_EQ(Take(control_.Get()).type, AES256);
}

TEST_F(RefusedStream, StreamsCutAtEveryLength) {
    for (size_t length = 0; length < kSavedAes256Cbc.size(); ++length) {
        SCOPED_TRACE(length);
        ExpectRefused(Bytes(kSavedAes256Cbc.begin(), kSavedAes256Cbc.begin() + length), STG_E_READFAULT);
    }
}

TEST_F(RefusedStream, OtherVariantTypesAreRefusedWithoutCreatingObjects) {
    // A string where the type belongs.
    const uint32_t chars = 2;
    Bytes bstr_value;
    Append(bstr_value, &chars, sizeof chars);
    Append(bstr_value, L"4", 2);
    ExpectRefused(WithTypeVariant(VT_BSTR, bstr_value.data(), bstr_value.size()), DISP_E_TYPEMISMATCH);

    // An object named by a CLSID: its class object must never be asked.
    static const CLSID kNamedClass = {0x6b1c6a70, 0x1234, 0x4d3e, {0x9a, 0x11, 0x00, 0x22, 0x33, 0x44, 0x55, 0x66}};
    CountingFactory factory;
    DWORD registration = 0;
    ASSERT_EQ(CoRegisterClassObject(kNamedClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &registration),
              S_OK);
    ExpectRefused(WithTypeVariant(VT_UNKNOWN, &kNamedClass, sizeof kNamedClass), DISP_E_TYPEMISMATCH);
    ExpectRefused(WithTypeVariant(VT_DISPATCH, &kNamedClass, sizeof kNamedClass), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(factory.created, 0);
    CoRevokeClassObject(registration);

    // The right width under the wrong type, and a boolean where an integer belongs.
    const int16_t small = 4;
    ExpectRefused(WithTypeVariant(VT_I2, &small, sizeof small), DISP_E_TYPEMISMATCH);
    const uint32_t unsigned_type = 4;
    ExpectRefused(WithTypeVariant(VT_UI4, &unsigned_type, sizeof unsigned_type), DISP_E_TYPEMISMATCH);
    Bytes bool_for_mode = kSavedAes256Cbc;
    bool_for_mode[18] = VT_BOOL;
    ExpectRefused(bool_for_mode, DISP_E_TYPEMISMATCH);
    // The last property's type spoiled: the five before it are not applied either.
    Bytes last_spoiled = kSavedAes256Cbc;
    last_spoiled[30] = VT_R4;
    ExpectRefused(last_spoiled, DISP_E_TYPEMISMATCH);
}

TEST_F(RefusedStream, ATypeItsPutRefusesFailsLikeThePut) {
    const int32_t unknown_type = 12;
    ExpectRefused(WithTypeVariant(VT_I4, &unknown_type, sizeof unknown_type), com::ErrorHResult(30004));
    const test::ErrorInfoFields info = test::TakeErrorInfo();
    EXPECT_EQ(info.description, L"Selected Type not supported.");
    EXPECT_EQ(info.source, L"Kestrane.Ombrix.1");

    ComPtr<IOmbrix> binder = NewControl();
    lock_count_ = com::ModuleLockCount();
    ASSERT_EQ(binder->put_FIPS(com::Bstr(L"fips_switch_ok.dll").Get()), S_OK);
    ASSERT_TRUE(ombrix::FipsMode());
    const int32_t rc4 = RC4;
    ExpectRefused(WithTypeVariant(VT_I4, &rc4, sizeof rc4), com::ErrorHResult(33018));
    // AES256 is allowed in FIPS mode.
    EXPECT_EQ(persist_->Load(NewStream(kSavedAes256Cbc).Get()), S_OK);
    EXPECT_EQ(binder->put_FIPS(nullptr), S_OK);
    EXPECT_FALSE(ombrix::FipsMode());
}

}  // namespace
