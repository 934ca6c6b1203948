// Memory blobs for the control's tests: one made with given bytes, a blob's whole content, and a
// blob that fails the calls it is told to fail.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "blobs/MemBlob.h"
#include "test_bytes.h"
#include "test_util.h"

namespace test {

inline ComPtr<IBlob> NewBlob(const Bytes& content = {}) {
    ComPtr<IBlob> result = Create<ombrix::CMemBlob, IBlob>();
    if (result && !content.empty()) {
        com::SafeArray array = com::SafeArray::Bytes(content.data(), static_cast<uint32_t>(content.size()));
        SAFEARRAY* raw = array.Get();
        EXPECT_EQ(result->Write(&raw), S_OK);
    }
    return result;
}

// Everything from the blob's start to its end (the blob is left at its end).
inline Bytes Content(IBlob* blob) {
    LONG end = 0;
    EXPECT_EQ(blob->Seek(0, 2, &end), S_OK);
    EXPECT_EQ(blob->Seek(0, 0, nullptr), S_OK);
    SAFEARRAY* raw = nullptr;
    EXPECT_EQ(blob->Read(end, &raw), S_OK);
    com::SafeArray array(raw);
    const uint32_t count = com::SafeArrayCount(raw);
    com::SafeArrayAccess access(raw);
    return count ? Bytes(access.Data(), access.Data() + count) : Bytes{};
}

// What FaultyBlob answers for a call it is told to fail.
inline constexpr HRESULT kBlobFailure = STG_E_ACCESSDENIED;

// A blob over bytes in memory (on the test's stack) that fails the calls it is told to fail, or
// delivers at most `max_read` bytes per Read.
class FaultyBlob final : public Fake<IBlob> {
public:
    explicit FaultyBlob(Bytes bytes = {}) : Fake(IID_IBlob), content(std::move(bytes)) {}
    STDMETHODIMP Read(LONG count, SAFEARRAY** data) override {
        *data = nullptr;
        if (fail_read) return kBlobFailure;
        const size_t n = std::min({static_cast<size_t>(static_cast<uint32_t>(count)), static_cast<size_t>(max_read), content.size() - position});
        *data = com::SafeArray::Bytes(content.data() + position, static_cast<uint32_t>(n)).Detach();
        position += n;
        return S_OK;
    }
    STDMETHODIMP Write(SAFEARRAY** data) override {
        if (fail_write) return kBlobFailure;
        const uint32_t n = com::SafeArrayCount(*data);
        com::SafeArrayAccess access(*data);
        if (position + n > content.size()) content.resize(position + n);
        if (n) std::copy_n(access.Data(), n, content.begin() + static_cast<ptrdiff_t>(position));
        position += n;
        return S_OK;
    }
    STDMETHODIMP Seek(LONG offset, LONG origin, LONG* new_position) override {
        if (fail_seek) return kBlobFailure;
        const size_t base = origin == 1 ? position : origin == 2 ? content.size() : 0;
        position = std::min(content.size(), base + static_cast<size_t>(offset));
        if (new_position) *new_position = static_cast<LONG>(position);
        return S_OK;
    }
    STDMETHODIMP SetSize(LONG size) override {
        if (fail_set_size) return kBlobFailure;
        content.resize(static_cast<uint32_t>(size));
        position = 0;
        return S_OK;
    }

    Bytes content;
    size_t position = 0;
    bool fail_seek = false, fail_read = false, fail_write = false, fail_set_size = false;
    uint32_t max_read = UINT32_MAX;
};

}  // namespace test
