// Memory blobs for the control's tests: one made with given bytes, and a blob's whole content.
#pragma once

#include <cstdint>
#include <vector>

#include "blobs/MemBlob.h"
#include "test_util.h"

namespace test {

using Bytes = std::vector<uint8_t>;

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

}  // namespace test
