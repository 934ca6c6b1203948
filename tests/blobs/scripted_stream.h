// An in-memory IStream whose misbehaviour a test chooses: short reads, the last bytes delivered
// together with S_FALSE, a failing read after some calls, a refused SetSize or Seek, writes that
// take only part of what they are given, and a position beyond 4 GiB.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace test {

class ScriptedStream final : public IStream {
public:
    explicit ScriptedStream(std::string data = {}) : data(std::move(data)) {}

    std::string data;
    uint64_t position = 0;
    ULONG max_read = 0xFFFFFFFF;      // most bytes one Read delivers
    bool s_false_with_last = false;   // the read reaching the end returns S_FALSE with its bytes
    int fail_read_after = -1;         // reads that succeed before every further one fails
    HRESULT read_failure = STG_E_READFAULT;
    ULONG max_write = 0xFFFFFFFF;     // most bytes one Write takes
    HRESULT write_result = S_OK;      // a failure here refuses every Write
    HRESULT set_size_result = S_OK;   // a failure here refuses SetSize
    HRESULT seek_result = S_OK;       // a failure here refuses Seek
    int reads = 0;
    int writes = 0;
    int set_sizes = 0;

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IStream || riid == IID_ISequentialStream) {
            *out = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the test's stack

    STDMETHODIMP Read(void* out, ULONG size, ULONG* read) override {
        if (read) *read = 0;
        if (fail_read_after >= 0 && reads >= fail_read_after) return read_failure;
        ++reads;
        const uint64_t available = position < data.size() ? data.size() - position : 0;
        const ULONG count = static_cast<ULONG>(std::min<uint64_t>({size, max_read, available}));
        memcpy(out, data.data() + position, count);
        position += count;
        if (read) *read = count;
        if (count == 0 && size > 0) return S_FALSE;
        if (s_false_with_last && position >= data.size()) return S_FALSE;
        return S_OK;
    }
    STDMETHODIMP Write(const void* bytes, ULONG size, ULONG* written) override {
        ++writes;
        if (written) *written = 0;
        if (FAILED(write_result)) return write_result;
        const ULONG count = std::min(size, max_write);
        if (data.size() < position + count) data.resize(position + count);
        memcpy(data.data() + position, bytes, count);
        position += count;
        if (written) *written = count;
        return S_OK;
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* result) override {
        if (FAILED(seek_result)) return seek_result;
        int64_t base = 0;
        if (origin == STREAM_SEEK_CUR) base = static_cast<int64_t>(position);
        else if (origin == STREAM_SEEK_END) base = static_cast<int64_t>(data.size());
        else if (origin != STREAM_SEEK_SET) return STG_E_INVALIDFUNCTION;
        if (base + move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
        position = static_cast<uint64_t>(base + move.QuadPart);
        if (result) result->QuadPart = position;
        return S_OK;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER size) override {
        ++set_sizes;
        if (FAILED(set_size_result)) return set_size_result;
        data.resize(size.QuadPart);
        return S_OK;
    }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

    ULONG refs = 1;
};

}  // namespace test
