// Throughput of the control's Encrypt and Decrypt, measured side by side with OpenSSL's EVP
// interface and zlib: first AES from a 1 GiB file blob into another against a plain file loop
// (with how much the peak working set grew meanwhile), then on in-memory blobs on the same 64 MiB
// of random data, then the file blob against plain file calls. Prints one line per row,
//   bench <row> ombrix=<MB/s> reference=<MB/s> ratio=<ombrix/reference>
// then the peak working set of the process. Each side runs up to three times; the best run counts.
#include <windows.h>
#include <psapi.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "blobs/MemBlob.h"
#include "com/holders.h"
#include "control/Ombrix.h"
#include "fileblob_bench.h"
#include "reference.h"
#include "timer.h"

namespace {

using Microsoft::WRL::ComPtr;
using Bytes = std::vector<uint8_t>;

constexpr size_t kDataSize = size_t{64} << 20;
// Each side runs at least kMinRuns times, and a fast row more often, until both sides together
// have run kMinSeconds (at most kMaxRuns times): a run of a few milliseconds is easily disturbed.
constexpr int kMinRuns = 3;
constexpr int kMaxRuns = 25;
constexpr double kMinSeconds = 1;
// A side stops repeating once its runs have taken this long, so that a slow row stays short.
constexpr double kRepeatBudgetSeconds = 20;
// Blobs are read back in pieces of this size for comparison.
constexpr LONG kReadPiece = 1 << 20;

enum class Direction { Encrypt, Decrypt, Digest, Hmac };

struct Row {
    const char* name;
    CryptoTypes type;
    CryptoModes mode;
    CryptoCompression compression;
    Direction direction;
    bench::Reference reference;
};

// One line per row. A decrypt row decrypts what the encryption with the same settings produced.
const Row kRows[] = {
    {"aes128-cbc-encrypt", AES, CBC, NoCompression, Direction::Encrypt, bench::Cipher("AES-128-CBC")},
    {"aes128-cbc-decrypt", AES, CBC, NoCompression, Direction::Decrypt, bench::Cipher("AES-128-CBC")},
    {"aes256-ecb-encrypt", AES256, ECB, NoCompression, Direction::Encrypt, bench::Cipher("AES-256-ECB")},
    {"3des-cbc-encrypt", TripleDES, CBC, NoCompression, Direction::Encrypt, bench::Cipher("DES-EDE3-CBC")},
    {"bf-cbc-encrypt", Blowfish, CBC, NoCompression, Direction::Encrypt, bench::Cipher("BF-CBC")},
    {"cast5-cbc-encrypt", Cast, CBC, NoCompression, Direction::Encrypt, bench::CipherAlike("CAST5-CBC")},
    {"rc2-cbc-encrypt", RC2, CBC, NoCompression, Direction::Encrypt, bench::CipherAlike("RC2-CBC")},
    {"rc4-encrypt", RC4, ECB, NoCompression, Direction::Encrypt, bench::Cipher("RC4")},
    {"none-zlib9-encrypt", None, ECB, ZlibCompression, Direction::Encrypt, bench::Zlib(9)},
    {"sha256-digest", SHA256, ECB, NoCompression, Direction::Digest, bench::Digest("SHA256")},
    {"sha384-digest", SHA384, ECB, NoCompression, Direction::Digest, bench::Digest("SHA384")},
    {"sha512-digest", SHA512, ECB, NoCompression, Direction::Digest, bench::Digest("SHA512")},
    {"sha1-digest", SHA1, ECB, NoCompression, Direction::Digest, bench::Digest("SHA1")},
    {"md5-digest", MD5, ECB, NoCompression, Direction::Digest, bench::Digest("MD5")},
    {"hmac-sha256", SHA256, ECB, NoCompression, Direction::Hmac, bench::Hmac("SHA256")},
    {"crc32-digest", CRC32, ECB, NoCompression, Direction::Digest, bench::Crc32()},
};

bool SameSettings(const Row& a, const Row& b) {
    return a.type == b.type && a.mode == b.mode && a.compression == b.compression &&
           bench::SameReference(a.reference, b.reference);
}

Bytes RandomBytes(size_t count, uint64_t seed) {
    Bytes bytes(count);
    std::mt19937_64 generator(seed);
    for (size_t i = 0; i < count; i += 8) {
        const uint64_t value = generator();
        std::memcpy(bytes.data() + i, &value, std::min<size_t>(8, count - i));
    }
    return bytes;
}

// The HRESULT in hex with the error information's description, when the failing call left one.
std::string Describe(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    std::string result = text;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        com::Bstr description;
        if (SUCCEEDED(info->GetDescription(description.Put())) && !description.Empty()) {
            const int wide_length = static_cast<int>(description.Length());
            const int length =
                WideCharToMultiByte(CP_UTF8, 0, description.Get(), wide_length, nullptr, 0, nullptr, nullptr);
            std::string narrow(static_cast<size_t>(length), '\0');
            WideCharToMultiByte(CP_UTF8, 0, description.Get(), wide_length, narrow.data(), length, nullptr, nullptr);
            result += " (" + narrow + ")";
        }
    }
    return result;
}

ComPtr<IBlob> NewBlob() {
    com::ComObject<ombrix::CMemBlob>* object = nullptr;
    ComPtr<IBlob> blob;
    if (SUCCEEDED(com::ComObject<ombrix::CMemBlob>::CreateInstance(&object))) {
        object->QueryInterface(IID_IBlob, reinterpret_cast<void**>(blob.GetAddressOf()));
        object->Release();
    }
    return blob;
}

HRESULT WriteBytes(IBlob* blob, std::span<const uint8_t> bytes) {
    com::SafeArray array = com::SafeArray::Bytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (!array.Get()) return E_OUTOFMEMORY;
    SAFEARRAY* raw = array.Get();
    return blob->Write(&raw);
}

// Whether the blob's whole content equals `expected`.
bool ContentEquals(IBlob* blob, std::span<const uint8_t> expected) {
    LONG end = 0;
    if (FAILED(blob->Seek(0, 2, &end)) || static_cast<size_t>(end) != expected.size()) return false;
    LONG position = 0;
    if (FAILED(blob->Seek(0, 0, &position))) return false;
    size_t offset = 0;
    while (offset < expected.size()) {
        SAFEARRAY* raw = nullptr;
        if (FAILED(blob->Read(kReadPiece, &raw))) return false;
        com::SafeArray piece(raw);
        const uint32_t count = com::SafeArrayCount(raw);
        if (count == 0 || count > expected.size() - offset) return false;
        com::SafeArrayAccess access(raw);
        if (!access.Ok() || std::memcmp(access.Data(), expected.data() + offset, count) != 0) return false;
        offset += count;
    }
    return true;
}

HRESULT PutBytes(IOmbrix* control, HRESULT (STDMETHODCALLTYPE IOmbrix::*put)(VARIANT), std::span<const uint8_t> bytes) {
    com::Variant value;
    if (!bytes.empty()) {
        com::SafeArray array = com::SafeArray::Bytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
        if (!array.Get()) return E_OUTOFMEMORY;
        V_VT(value.Get()) = VT_ARRAY | VT_UI1;
        V_ARRAY(value.Get()) = array.Detach();
    }
    return (control->*put)(*value.Get());
}

// Puts the row's settings and a key of the Type's key size on the control; `iv` receives an IV of
// its block size, which the caller puts before every operation.
HRESULT Configure(IOmbrix* control, const Row& row, Bytes& key, Bytes& iv) {
    static const Bytes key_pool = RandomBytes(64, 0x6b6579);
    static const Bytes iv_pool = RandomBytes(64, 0x4956);
    RETURN_IF_FAILED(control->put_type(row.type));
    RETURN_IF_FAILED(control->put_Mode(row.mode));
    RETURN_IF_FAILED(control->put_Padding(PadNull));
    RETURN_IF_FAILED(control->put_Compression(row.compression));
    RETURN_IF_FAILED(control->put_Optimized(VARIANT_FALSE));
    RETURN_IF_FAILED(control->put_FireEvents(VARIANT_FALSE));
    short key_size = 0, block_size = 0;
    RETURN_IF_FAILED(control->get_KeySize(&key_size));
    RETURN_IF_FAILED(control->get_BlockSize(&block_size));
    key.assign(key_pool.begin(), key_pool.begin() + std::clamp<short>(key_size, 0, 64));
    iv.assign(iv_pool.begin(), iv_pool.begin() + std::clamp<short>(block_size, 0, 64));
    return PutBytes(control, &IOmbrix::put_SecretKey, key);
}

struct Timing {
    bool ok = false;
    double best = 0;
    std::string error;
};

struct Timings {
    Timing ombrix;
    Timing reference;
};

// Runs each side (returning one run's seconds, or false with a message) kMinRuns to kMaxRuns times
// within the repeat budget, the two taking turns so that drifts of the machine's load or of the
// page cache fall on both alike, and keeps each side's best time.
template <class Ombrix, class Reference>
Timings RepeatAlternating(Ombrix ombrix, Reference reference) {
    Timings timings;
    double spent = 0;
    const auto once = [&spent](auto& run, Timing& timing) {
        double seconds = 0;
        if (!run(seconds, timing.error)) return timing.ok = false;
        timing.best = timing.ok ? std::min(timing.best, seconds) : seconds;
        spent += seconds;
        return timing.ok = true;
    };
    for (int i = 0; i < kMaxRuns && spent < 2 * kRepeatBudgetSeconds && (i < kMinRuns || spent < kMinSeconds); ++i) {
        if (!once(ombrix, timings.ombrix) || !once(reference, timings.reference)) break;
    }
    return timings;
}

// One Encrypt or Decrypt through the control, with the IV put just before it.
bool ControlRun(IOmbrix* control, Direction direction, std::span<const uint8_t> iv, IBlob* in, IBlob* out,
                double& seconds, std::string& error) {
    const HRESULT iv_result = PutBytes(control, &IOmbrix::put_InitVector, iv);
    if (FAILED(iv_result)) {
        error = "InitVector: " + Describe(iv_result);
        return false;
    }
    static const char* const kNames[] = {"Encrypt: ", "Decrypt: ", "Digest: ", "HMAC: "};
    const double start = bench::Now();
    HRESULT hr = E_FAIL;
    switch (direction) {
        case Direction::Encrypt: hr = control->Encrypt(in, out); break;
        case Direction::Decrypt: hr = control->Decrypt(in, out); break;
        case Direction::Digest: hr = control->Digest(in, out); break;
        case Direction::Hmac: hr = control->HMAC(in, out); break;
    }
    seconds = bench::Now() - start;
    if (FAILED(hr)) {
        error = kNames[static_cast<int>(direction)] + Describe(hr);
        return false;
    }
    return true;
}

bool ReferenceRun(const Row& row, Direction direction, std::span<const uint8_t> key, std::span<const uint8_t> iv,
                  std::span<const uint8_t> input, Bytes& output, double& seconds, std::string& error) {
    const bench::RunResult result = bench::RunReference(row.reference, direction == Direction::Decrypt, key, iv,
                                                        input, kDataSize, output);
    seconds = result.seconds;
    if (!result.ok) error = "reference: " + result.error;
    return result.ok;
}

// The last encryption's outputs, kept for a following decrypt row with the same settings.
struct Encrypted {
    const Row* row = nullptr;
    ComPtr<IBlob> ombrix;
    Bytes reference;
};

double MegabytesPerSecond(double seconds) { return static_cast<double>(kDataSize) / 1e6 / seconds; }

void PrintError(const Row& row, const std::string& error) {
    std::printf("bench %s error: %s\n", row.name, error.c_str());
    std::fflush(stdout);
}

// Measures one row; false when a round trip did not restore the data.
bool MeasureRow(IOmbrix* control, const Row& row, IBlob* input_blob, std::span<const uint8_t> data,
                Encrypted& encrypted) {
    Bytes key, iv;
    const HRESULT configured = Configure(control, row, key, iv);
    if (FAILED(configured)) {
        PrintError(row, "settings: " + Describe(configured));
        return true;
    }

    IBlob* ombrix_input = input_blob;
    std::span<const uint8_t> reference_input = data;
    if (row.direction == Direction::Decrypt) {
        if (!encrypted.row || !SameSettings(*encrypted.row, row)) {
            // No matching encryption ran just before: produce one now, untimed.
            encrypted = {};
            Encrypted fresh{&row, NewBlob(), {}};
            double seconds = 0;
            std::string error;
            if (!fresh.ombrix ||
                !ControlRun(control, Direction::Encrypt, iv, input_blob, fresh.ombrix.Get(), seconds, error) ||
                !ReferenceRun(row, Direction::Encrypt, key, iv, data, fresh.reference, seconds, error)) {
                PrintError(row, error.empty() ? "no blob" : error);
                return true;
            }
            encrypted = std::move(fresh);
        }
        ombrix_input = encrypted.ombrix.Get();
        reference_input = encrypted.reference;
    } else {
        encrypted = {};
    }

    ComPtr<IBlob> ombrix_output = NewBlob();
    if (!ombrix_output) {
        PrintError(row, "no blob");
        return true;
    }
    Bytes reference_output;
    const auto [ombrix, reference] = RepeatAlternating(
        [&](double& seconds, std::string& error) {
            return ControlRun(control, row.direction, iv, ombrix_input, ombrix_output.Get(), seconds, error);
        },
        [&](double& seconds, std::string& error) {
            return ReferenceRun(row, row.direction, key, iv, reference_input, reference_output, seconds, error);
        });
    if (!ombrix.ok) {
        PrintError(row, ombrix.error);
        return true;
    }
    if (!reference.ok) {
        PrintError(row, reference.error);
        return true;
    }

    const double ombrix_rate = MegabytesPerSecond(ombrix.best);
    const double reference_rate = MegabytesPerSecond(reference.best);
    std::printf("bench %s ombrix=%.2f reference=%.2f ratio=%.3f\n", row.name, ombrix_rate, reference_rate,
                ombrix_rate / reference_rate);
    std::fflush(stdout);

    bool restored = true;
    if (row.direction == Direction::Decrypt) {
        if (!ContentEquals(ombrix_output.Get(), data)) {
            PrintError(row, "the control's Decrypt did not restore the data");
            restored = false;
        }
        if (!std::ranges::equal(reference_output, data)) {
            PrintError(row, "the reference's decryption did not restore the data");
            restored = false;
        }
    } else {
        if (bench::OutputComparable(row.reference) && !ContentEquals(ombrix_output.Get(), reference_output)) {
            std::fprintf(stderr, "bench %s note: the control's output differs from the reference's\n", row.name);
        }
        encrypted = {&row, ombrix_output, std::move(reference_output)};
    }
    return restored;
}

// Whether a row is measured: all without OMBRIX_BENCH_ROWS, else those whose names (here given
// as one text) contain it.
bool Selected(const char* names) {
    const char* only = std::getenv("OMBRIX_BENCH_ROWS");
    return !only || !*only || std::strstr(names, only) != nullptr;
}

uint64_t PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
}

// Whether two files hold the same bytes.
bool SameFiles(const std::wstring& a, const std::wstring& b) {
    HANDLE first = CreateFileW(a.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE second = CreateFileW(b.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    bool same = first != INVALID_HANDLE_VALUE && second != INVALID_HANDLE_VALUE;
    Bytes x(kReadPiece), y(kReadPiece);
    while (same) {
        DWORD got_x = 0, got_y = 0;
        same = ReadFile(first, x.data(), kReadPiece, &got_x, nullptr) && ReadFile(second, y.data(), kReadPiece, &got_y, nullptr) &&
               got_x == got_y && std::memcmp(x.data(), y.data(), got_x) == 0;
        if (got_x == 0) break;
    }
    if (first != INVALID_HANDLE_VALUE) CloseHandle(first);
    if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
    return same;
}

// AES-128-CBC from a 1 GiB file blob into another, against ReadFile, EVP and WriteFile with the
// control's chunk size; then how much the peak working set grew during the row. False when the
// two outputs differ.
bool MeasureFileCipher(IOmbrix* control) {
    constexpr size_t kFileSize = size_t{1} << 30;
    constexpr size_t kChunk = 128000;  // the control's read and write size
    const Row row{"fileblob-aes-1gib", AES, CBC, NoCompression, Direction::Encrypt, bench::Cipher("AES-128-CBC")};
    const uint64_t peak_before = PeakWorkingSet();
    const std::wstring input_path = bench::TemporaryFile(L"bin"), output_path = bench::TemporaryFile(L"bou"),
                      reference_path = bench::TemporaryFile(L"bre");
    bool same = true;
    [&] {
        if (input_path.empty() || output_path.empty() || reference_path.empty()) return PrintError(row, "no temporary file");
        HANDLE file = CreateFileW(input_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        const Bytes pattern = RandomBytes(kChunk * 8, 0xf11e);
        bool written = file != INVALID_HANDLE_VALUE;
        for (size_t offset = 0; written && offset < kFileSize; offset += pattern.size()) {
            const DWORD n = static_cast<DWORD>(std::min(pattern.size(), kFileSize - offset));
            DWORD done = 0;
            written = WriteFile(file, pattern.data(), n, &done, nullptr) && done == n;
        }
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (!written) return PrintError(row, "cannot write the input file");

        Bytes key, iv;
        const HRESULT configured = Configure(control, row, key, iv);
        if (FAILED(configured)) return PrintError(row, "settings: " + Describe(configured));
        const ComPtr<IBlob> input = bench::FileBlobOn(input_path, false), output = bench::FileBlobOn(output_path, false);
        if (!input || !output) return PrintError(row, "cannot open the file blobs");
        const auto [ombrix, reference] = RepeatAlternating(
            [&](double& seconds, std::string& error) {
                return ControlRun(control, Direction::Encrypt, iv, input.Get(), output.Get(), seconds, error);
            },
            [&](double& seconds, std::string& error) {
                const bench::RunResult result =
                    bench::RunFileCipher(row.reference.cipher, key, iv, input_path.c_str(), reference_path.c_str(), kChunk);
                seconds = result.seconds;
                if (!result.ok) error = "reference: " + result.error;
                return result.ok;
            });
        if (!ombrix.ok) return PrintError(row, ombrix.error);
        if (!reference.ok) return PrintError(row, reference.error);
        const double size = static_cast<double>(kFileSize) / 1e6;
        std::printf("bench %s ombrix=%.2f reference=%.2f ratio=%.3f\n", row.name, size / ombrix.best, size / reference.best,
                    reference.best / ombrix.best);
        std::printf("bench memory %s MiB=%llu\n", row.name,
                    static_cast<unsigned long long>((PeakWorkingSet() - peak_before + (1u << 19)) >> 20));
        std::fflush(stdout);
        same = SameFiles(output_path, reference_path);
        if (!same) PrintError(row, "the control's output file differs from the reference's");
    }();
    for (const std::wstring& path : {input_path, output_path, reference_path})
        if (!path.empty()) DeleteFileW(path.c_str());
    return same;
}

int Run() {
    com::ComObject<ombrix::COmbrix>* object = nullptr;
    if (FAILED(com::ComObject<ombrix::COmbrix>::CreateInstance(&object))) {
        std::fprintf(stderr, "bench: cannot create the control\n");
        return 2;
    }
    ComPtr<IOmbrix> control;
    object->QueryInterface(IID_IOmbrix, reinterpret_cast<void**>(control.GetAddressOf()));
    object->Release();

    // First, while the process is small: its memory line is the growth of the peak.
    bool all_restored = !Selected("fileblob-aes-1gib") || MeasureFileCipher(control.Get());

    const Bytes data = RandomBytes(kDataSize, 0x0bb1e5);
    ComPtr<IBlob> input = NewBlob();
    const HRESULT filled = input ? WriteBytes(input.Get(), data) : E_OUTOFMEMORY;
    if (FAILED(filled)) {
        std::fprintf(stderr, "bench: cannot fill the input blob: %s\n", Describe(filled).c_str());
        return 2;
    }

    Encrypted encrypted;
    for (const Row& row : kRows) {
        if (!Selected(row.name)) continue;
        if (!MeasureRow(control.Get(), row, input.Get(), data, encrypted)) all_restored = false;
    }
    encrypted = {};
    if (Selected("fileblob-read fileblob-write") && !bench::MeasureFileBlob()) all_restored = false;

    if (const uint64_t peak = PeakWorkingSet()) {
        std::printf("bench peak-working-set MiB=%llu\n", static_cast<unsigned long long>((peak + (1u << 19)) >> 20));
    } else {
        std::printf("bench peak-working-set error: GetProcessMemoryInfo failed (%lu)\n", GetLastError());
    }
    std::fflush(stdout);
    return all_restored ? 0 : 1;
}

}  // namespace

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const int result = Run();
    CoUninitialize();
    return result;
}
