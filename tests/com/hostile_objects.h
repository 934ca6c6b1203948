// Hostile stand-ins a caller may hand the component: an object that answers no interface but
// IUnknown, and a stream that fails every call or reads one byte at a time. They count their
// references, so a test sees every one released.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace test {

class NoInterface final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** result) override {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
        *result = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
    LONG refs = 0;
};

// What HostileStream answers for a call it fails.
inline constexpr HRESULT kStreamFailure = STG_E_READFAULT;

class HostileStream final : public IStream {
public:
    explicit HostileStream(bool fail_all) : fail_all_(fail_all), content_(100, 0x5A) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** result) override {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IStream) &&
            !IsEqualIID(riid, IID_ISequentialStream))
            return E_NOINTERFACE;
        *result = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
    STDMETHODIMP Read(void* data, ULONG count, ULONG* done) override {
        if (done) *done = 0;
        if (fail_all_) return kStreamFailure;
        const size_t n = std::min<size_t>({count, 1, content_.size() - position_});
        if (n) static_cast<uint8_t*>(data)[0] = content_[position_];
        position_ += n;
        if (done) *done = static_cast<ULONG>(n);
        return n < count ? S_FALSE : S_OK;
    }
    STDMETHODIMP Write(const void*, ULONG count, ULONG* done) override {
        if (done) *done = 0;
        if (fail_all_) return kStreamFailure;
        if (done) *done = std::min<ULONG>(count, 1);  // a short write
        return S_OK;
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* result) override {
        if (fail_all_) return kStreamFailure;
        const int64_t base = origin == STREAM_SEEK_CUR ? static_cast<int64_t>(position_)
                           : origin == STREAM_SEEK_END ? static_cast<int64_t>(content_.size()) : 0;
        const int64_t target = base + move.QuadPart;
        if (target < 0) return STG_E_INVALIDFUNCTION;
        position_ = std::min<size_t>(static_cast<size_t>(target), content_.size());
        if (result) result->QuadPart = position_;
        return S_OK;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return fail_all_ ? kStreamFailure : S_OK; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return kStreamFailure; }
    STDMETHODIMP Commit(DWORD) override { return fail_all_ ? kStreamFailure : S_OK; }
    STDMETHODIMP Revert() override { return kStreamFailure; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return kStreamFailure; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return kStreamFailure; }
    STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
        if (fail_all_) return kStreamFailure;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = content_.size();
        return S_OK;
    }
    STDMETHODIMP Clone(IStream** result) override {
        *result = nullptr;
        return kStreamFailure;
    }
    LONG refs = 0;

private:
    bool fail_all_;
    std::vector<uint8_t> content_;
    size_t position_ = 0;
};

}  // namespace test
