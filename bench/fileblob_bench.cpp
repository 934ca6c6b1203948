#include "fileblob_bench.h"

#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "blobs/FileBlob.h"
#include "com/holders.h"
#include "timer.h"

namespace bench {
namespace {

using Microsoft::WRL::ComPtr;

constexpr uint32_t kRequest = 64 * 1024;
constexpr uint32_t kRequests = 4096;  // 256 MiB
constexpr int kRuns = 3;

double Rate(double seconds) { return double{kRequest} * kRequests / 1e6 / seconds; }

struct Best {
    double ombrix = 0;
    double reference = 0;
};

// One run of a side: `prepare` (untimed: emptying the file, so that every run writes into an
// empty file rather than over the dirty pages of the run before), then `run`, timed. Both return
// false on failure.
struct Side {
    std::function<bool()> prepare;
    std::function<bool()> run;
};

// The fastest of kRuns runs of each side (0 for both when a run fails), the sides taking turns.
Best Alternating(const Side& ombrix, const Side& reference) {
    Best best;
    const auto time = [](const Side& side, double& fastest) {
        if (!side.prepare()) return false;
        const double start = Now();
        if (!side.run()) return false;
        const double seconds = Now() - start;
        if (fastest == 0 || seconds < fastest) fastest = seconds;
        return true;
    };
    for (int i = 0; i < kRuns; ++i) {
        if (!time(reference, best.reference) || !time(ombrix, best.ombrix)) return {};
    }
    return best;
}

void Print(const char* name, const Best& best) {
    if (best.ombrix == 0 || best.reference == 0) {
        std::printf("bench %s error: a file operation failed\n", name);
    } else {
        std::printf("bench %s ombrix=%.2f reference=%.2f ratio=%.3f\n", name, Rate(best.ombrix), Rate(best.reference),
                    best.reference / best.ombrix);
    }
    std::fflush(stdout);
}

// The request's bytes: the request number in every word, so misplaced requests show.
void FillRequest(std::vector<uint8_t>& bytes, uint32_t number) {
    for (size_t i = 0; i < bytes.size(); i += 4) std::memcpy(bytes.data() + i, &number, 4);
}

}  // namespace

std::wstring TemporaryFile(const wchar_t* prefix) {
    wchar_t directory[MAX_PATH];
    wchar_t path[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, directory) || !GetTempFileNameW(directory, prefix, 0, path)) return {};
    return path;
}

ComPtr<IBlob> FileBlobOn(const std::wstring& path, bool auto_delete) {
    com::ComObject<ombrix::CFileBlob>* object = nullptr;
    ComPtr<IFileBlob> file;
    ComPtr<IBlob> blob;
    if (SUCCEEDED(com::ComObject<ombrix::CFileBlob>::CreateInstance(&object))) {
        object->QueryInterface(IID_IFileBlob, reinterpret_cast<void**>(file.GetAddressOf()));
        object->Release();
    }
    if (!file || FAILED(file->put_Filename(com::Bstr(path.c_str()).Get())) || FAILED(file.As(&blob))) return nullptr;
    if (auto_delete) file->put_AutoDelete(VARIANT_TRUE);
    return blob;
}

bool MeasureFileBlob() {
    const std::wstring name = TemporaryFile(L"bch");
    if (name.empty()) {
        std::printf("bench fileblob error: no temporary file\n");
        return true;
    }
    const wchar_t* path = name.c_str();
    const ComPtr<IBlob> blob = FileBlobOn(name, true);
    if (!blob) {
        std::printf("bench fileblob error: cannot open the file blob\n");
        DeleteFileW(path);
        return true;
    }

    std::vector<uint8_t> pattern(kRequest);
    FillRequest(pattern, 7);
    // The caller's array, reused for every request as a script would reuse its data.
    com::SafeArray array = com::SafeArray::Bytes(pattern.data(), kRequest);
    HANDLE plain = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!array.Get() || plain == INVALID_HANDLE_VALUE) {
        std::printf("bench fileblob error: no array or handle\n");
        return true;
    }

    const auto rewind = [plain] {
        LARGE_INTEGER zero{};
        return SetFilePointerEx(plain, zero, nullptr, FILE_BEGIN) && SetEndOfFile(plain);
    };
    const Best write = Alternating({[&] { return SUCCEEDED(blob->SetSize(0)); },
                                    [&] {
                                        SAFEARRAY* raw = array.Get();
                                        for (uint32_t i = 0; i < kRequests; ++i) {
                                            if (FAILED(blob->Write(&raw))) return false;
                                        }
                                        return true;
                                    }},
                                   {rewind, [&] {
                                        for (uint32_t i = 0; i < kRequests; ++i) {
                                            DWORD written = 0;
                                            if (!WriteFile(plain, pattern.data(), kRequest, &written, nullptr) || written != kRequest)
                                                return false;
                                        }
                                        return true;
                                    }});
    Print("fileblob-write", write);

    std::vector<uint8_t> into(kRequest);
    bool same = true;
    const Best read = Alternating(
        {[&] { return SUCCEEDED(blob->Seek(0, 0, nullptr)); },
         [&] {
            for (uint32_t i = 0; i < kRequests; ++i) {
                SAFEARRAY* raw = nullptr;
                if (FAILED(blob->Read(kRequest, &raw))) return false;
                com::SafeArray piece(raw);
                if (com::SafeArrayCount(raw) != kRequest) return false;
                // One word per request is compared: enough to catch lost or misplaced data cheaply.
                com::SafeArrayAccess bytes(raw);
                if (std::memcmp(bytes.Data() + (i % (kRequest / 4)) * 4, pattern.data(), 4) != 0) same = false;
            }
            return true;
         }},
        {[&] {
             LARGE_INTEGER zero{};
             return SetFilePointerEx(plain, zero, nullptr, FILE_BEGIN) != 0;
         },
         [&] {
             for (uint32_t i = 0; i < kRequests; ++i) {
                 DWORD got = 0;
                 if (!ReadFile(plain, into.data(), kRequest, &got, nullptr) || got != kRequest) return false;
             }
             return true;
         }});
    Print("fileblob-read", read);
    CloseHandle(plain);
    if (!same) std::printf("bench fileblob-read error: the blob read other bytes than were written\n");
    return same;
}

}  // namespace bench
