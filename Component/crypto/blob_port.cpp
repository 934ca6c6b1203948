#include "crypto/blob_port.h"

namespace ombrix {

bool MeasureFromStart(BlobPort& blob, uint64_t* size) {
    uint64_t end = 0;
    uint64_t start = 0;
    *size = 0;
    if (!blob.Seek(0, kSeekEnd, &end).IsOk() || !blob.Seek(0, kSeekStart, &start).IsOk()) return false;
    *size = end > start ? end - start : 0;
    return true;
}

uint64_t BlobSizeFromStart(BlobPort& blob) {
    uint64_t size = 0;
    MeasureFromStart(blob, &size);
    return size;
}

uint64_t BlobRemainingSize(BlobPort& blob) {
    uint64_t current = 0;
    uint64_t end = 0;
    if (!blob.Seek(0, kSeekCurrent, &current).IsOk()) return 0;
    if (!blob.Seek(0, kSeekEnd, &end).IsOk()) return 0;
    if (!blob.Seek(static_cast<int64_t>(current), kSeekStart, nullptr).IsOk()) return 0;
    return end > current ? end - current : 0;
}

}  // namespace ombrix
