#include "control/Ombrix.h"

#include <algorithm>
#include <cwchar>

#include "binding/fips.h"
#include "text/text_encoding.h"
#include "com/variant_reference.h"
#include "control/key_intake.h"
#include "crypto/algorithm_factory.h"
#include "crypto/digests.h"
#include "crypto/hmac.h"
#include "control/debug_log.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "control/process_settings.h"
#include "text/code_page.h"

namespace ombrix {
namespace {

constexpr DISPID kDispidDone = 0;
constexpr DISPID kDispidProgress = 1;
constexpr DISPID kDispidProgress64 = 2;

// How long the about box waits for a user before it closes itself, so that an unattended
// script or test run is never held up for long.
constexpr DWORD kAboutTimeoutMs = 10000;

// Zero bytes kept behind a freshly put IV, so that a register read past its length sees zeros.
constexpr uint32_t kIvZeroTail = 256;

}  // namespace

AlgorithmSizes SizesOfType(int32_t type) {
    const CryptoUse crypto;  // the algorithm objects are made, and freed, in the bound library
    if (const std::unique_ptr<cryptSYMMETRIC> cipher = CreateSymmetric(type))
        return {static_cast<uint16_t>(cipher->KeySize()), static_cast<uint16_t>(cipher->BlockSize())};
    if (const std::unique_ptr<cryptMAC> digest = CreateDigest(type)) return {0, static_cast<uint16_t>(digest->GetSize())};
    return {0, 0};
}

bool IsSupportedType(int32_t type) {
    return (type >= DES && type <= UNIXcrypt3) || (type >= MD5 && type <= CRC32) || type == RSA || type == DSA ||
           type == RSASHA1 || type == DSASHA1 || type == None;
}

bool IsExcludedInFipsMode(int32_t type) { return (type >= Blowfish && type <= RC5) || type == MD5; }

COmbrix::COmbrix() : OleControl(CLSID_Ombrix, DIID__IOmbrixEvents) {
    SetIvRegisterLength(SizesOfType(type_).block_size);
}

COmbrix::~COmbrix() {
    DropCachedComputations();
    secret_key_.Clear();
    init_vector_.Clear();
    if (!debug_file_.Empty()) DebugLogWrite(debug_file_.Get(), "Ombrix destroyed\r\n");
}

void COmbrix::SetIvRegisterLength(uint32_t length) {
    const uint32_t current = iv_register_.Length();
    if (length < current) {
        iv_register_.ConsumeEnd(current - length);
    } else if (length > current) {
        iv_register_.AppendSpace(length - current);
    }
}

bool COmbrix::Fire(DISPID id, std::initializer_list<LONG> arguments) {
    if (!fire_events_) return true;
    auto hold = HoldSelf();
    events_.Invoke(id, arguments.begin(), static_cast<UINT>(arguments.size()));
    return !ReleasedByClients();
}

bool COmbrix::FireProgress(uint64_t position, uint64_t total) {
    const auto low = [](uint64_t value) { return static_cast<LONG>(static_cast<uint32_t>(value)); };
    const auto high = [](uint64_t value) { return static_cast<LONG>(static_cast<uint32_t>(value >> 32)); };
    if ((total >> 32) == 0) return Fire(kDispidProgress, {low(position), low(total)});
    return Fire(kDispidProgress64, {high(position), low(position), high(total), low(total)});
}

bool COmbrix::FireDone() { return Fire(kDispidDone, {}); }

STDMETHODIMP COmbrix::get_type(CryptoTypes* value) try { return com::SetOut(value, type_); } COM_CATCH

// Every put ends the running Digest and HMAC computations, a refused one included.
STDMETHODIMP COmbrix::put_type(CryptoTypes value) try {
    DropCachedComputations();
    if (!IsSupportedType(value)) return Error(kErrTypeNotSupported);
    if (FipsMode() && IsExcludedInFipsMode(value)) return Error(kErrFipsUnsupported);
    PutSetting(type_, value);
    SetIvRegisterLength(SizesOfType(type_).block_size);
    return S_OK;
} COM_CATCH

STDMETHODIMP COmbrix::get_SecretKey(VARIANT* value) try { return value ? secret_key_.CopyTo(value) : E_POINTER; } COM_CATCH

STDMETHODIMP COmbrix::get_InitVector(VARIANT* value) try { return value ? init_vector_.CopyTo(value) : E_POINTER; } COM_CATCH

STDMETHODIMP COmbrix::get_BlockSize(short* value) try { return com::SetOut(value, SizesOfType(type_).block_size); } COM_CATCH

STDMETHODIMP COmbrix::get_KeySize(short* value) try { return com::SetOut(value, SizesOfType(type_).key_size); } COM_CATCH

STDMETHODIMP COmbrix::get_Optimized(VARIANT_BOOL* value) try { return com::SetOut(value, com::ToVariantBool(optimized_)); } COM_CATCH

STDMETHODIMP COmbrix::put_Optimized(VARIANT_BOOL value) try { return PutSetting(optimized_, value != 0); } COM_CATCH

STDMETHODIMP COmbrix::About() try {
    // MessageBoxTimeoutW is exported by user32 but not declared by the SDK headers.
    using MessageBoxTimeoutFn = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT, WORD, DWORD);
    static const wchar_t kText[] =
        L"Ombrix 2.2.5.115\n\nCryptography component: encryption, digests, HMAC, signatures and "
        L"Authenticode code signing.\n\nCopyright (c) Kestrane!";
    const UINT style = MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND;
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto timed = user32 ? reinterpret_cast<MessageBoxTimeoutFn>(reinterpret_cast<void*>(GetProcAddress(user32, "MessageBoxTimeoutW"))) : nullptr;
    if (timed) {
        timed(nullptr, kText, L"About Ombrix", style, 0, kAboutTimeoutMs);
    } else {
        MessageBoxW(nullptr, kText, L"About Ombrix", style);
    }
    return S_OK;
} COM_CATCH

STDMETHODIMP COmbrix::get_Version(BSTR* value) try {
    if (!value) return E_POINTER;
    wchar_t text[32];
    const bool fips = !fips_.Empty() && FipsMode();
    swprintf(text, 32, L"%hs%ls", kVersion, fips ? L" (FIPS)" : L"");
    *value = SysAllocString(text);
    return *value ? S_OK : E_OUTOFMEMORY;
} COM_CATCH

STDMETHODIMP COmbrix::put_Version(BSTR) try { return S_OK; } COM_CATCH

STDMETHODIMP COmbrix::Abort() try {
    abort_request_ = 1;
    return S_OK;
} COM_CATCH

STDMETHODIMP COmbrix::get_FireEvents(VARIANT_BOOL* value) try { return com::SetOut(value, com::ToVariantBool(fire_events_)); } COM_CATCH

STDMETHODIMP COmbrix::put_FireEvents(VARIANT_BOOL value) try { return PutSetting(fire_events_, value != 0); } COM_CATCH

STDMETHODIMP COmbrix::get_DebugFile(BSTR* value) try { return debug_file_.CopyTo(value); } COM_CATCH

STDMETHODIMP COmbrix::put_DebugFile(BSTR value) try {
    com::Bstr copy = com::Bstr::Copy(value);
    if (value && !copy.Get()) {
        debug_file_.Reset();
        return E_OUTOFMEMORY;
    }
    debug_file_ = std::move(copy);
    if (!debug_file_.Empty()) DebugLogWrite(debug_file_.Get(), "New instance of Ombrix started\r\n");
    return S_OK;
} COM_CATCH

STDMETHODIMP COmbrix::get_Mode(CryptoModes* value) try { return com::SetOut(value, mode_); } COM_CATCH

STDMETHODIMP COmbrix::put_Mode(CryptoModes value) try { return PutSetting(mode_, value); } COM_CATCH

STDMETHODIMP COmbrix::get_Padding(CryptoPadding* value) try { return com::SetOut(value, padding_); } COM_CATCH

STDMETHODIMP COmbrix::put_Padding(CryptoPadding value) try { return PutSetting(padding_, value); } COM_CATCH

STDMETHODIMP COmbrix::get_Compression(CryptoCompression* value) try { return com::SetOut(value, compression_); } COM_CATCH

STDMETHODIMP COmbrix::put_Compression(CryptoCompression value) try {
    compression_ = value;
    return S_OK;
} COM_CATCH

STDMETHODIMP COmbrix::get_Language(LanguageEnum* value) try { return com::SetOut(value, Language()); } COM_CATCH

STDMETHODIMP COmbrix::put_Language(LanguageEnum value) try {
    SetLanguage(value);
    return S_OK;
} COM_CATCH

STDMETHODIMP COmbrix::get_Encoding(LONG* value) try { return com::SetOut(value, TextCodePage()); } COM_CATCH

STDMETHODIMP COmbrix::put_Encoding(LONG value) try {
    SetTextCodePage(value);
    return S_OK;
} COM_CATCH

STDMETHODIMP COmbrix::get_FIPS(BSTR* value) try { return fips_.CopyTo(value); } COM_CATCH

// Every put first leaves FIPS mode, so that putting the same name again reloads the library.
// A put from an event handler of a running operation is refused: that operation reads the table.
STDMETHODIMP COmbrix::put_FIPS(BSTR value) try {
    if (CryptoUse::Active()) return Error(kErrFipsLoad);
    const uint32_t length = value ? static_cast<uint32_t>(wcsnlen(value, SysStringLen(value))) : 0;
    std::string name;
    if (length && !NarrowAnsi(value, length, name)) return E_OUTOFMEMORY;
    // Running computations hold objects of the bound library: they go before it changes.
    DropCachedComputations();
    // One rebinding: the FIPS library bound before is released first.
    if (length) {
        if (const int code = BindCryptoLibrary(name.c_str())) return Error(code);
    } else if (FipsMode()) {
        BindCryptoLibrary(nullptr);
    }
    com::Bstr copy = com::Bstr::Copy(value);
    if (value && !copy.Get()) return E_OUTOFMEMORY;
    fips_ = std::move(copy);
    return S_OK;
} COM_CATCH

int32_t COmbrix::FipsLibraryCheck() const { return !fips_.Empty() && !FipsMode() ? kErrFipsLoad : kErrNone; }

// The put keeps the value and derives the key bytes from it now: later changes to a passed
// object do not reach the key. A variable passed by reference is followed and its value
// copied, so that nothing points into the caller's variable once the put returns.
STDMETHODIMP COmbrix::put_SecretKey(VARIANT value) try {
    const CryptoUse crypto;  // a certificate's or PEM key is converted in the crypto library
    const VARIANT& given = com::Dereference(value);
    secret_key_.CopyValueOf(given);
    SecureZero(key_bytes_.Data(), key_bytes_.Length());
    key_bytes_.Clear();
    certificate_handle_ = 0;
    DeriveSecretKey(given, debug_file_.Get(), key_bytes_, &certificate_handle_);
    modified_ = true;
    return S_OK;
} COM_CATCH

// The IV register restarts from the derived bytes, zero beyond them, cut or extended to the
// block size of the current Type.
STDMETHODIMP COmbrix::put_InitVector(VARIANT value) try {
    const CryptoUse crypto;
    const VARIANT& given = com::Dereference(value);
    init_vector_.CopyValueOf(given);
    iv_register_.Clear();
    DeriveInitVector(given, debug_file_.Get(), iv_register_);
    // Zero everything behind the supplied bytes, not only the first 256: passes over blocks
    // longer than the register (Unix crypt) chain through that storage too.
    const uint32_t supplied = iv_register_.Length();
    const uint32_t tail = std::max<uint32_t>(kIvZeroTail, iv_register_.Capacity() - iv_register_.EndOffset() - 1);
    if (uint8_t* zeros = iv_register_.AppendSpace(tail)) memset(zeros, 0, tail);
    iv_register_.ConsumeEnd(iv_register_.Length() - supplied);
    SetIvRegisterLength(SizesOfType(type_).block_size);
    modified_ = true;
    return S_OK;
} COM_CATCH

HRESULT COmbrix::PutSetting(int32_t& setting, int32_t value) {
    setting = value;
    modified_ = true;
    return S_OK;
}

void COmbrix::DropCachedComputations() {
    cached_digest_.reset();
    cached_hmac_.reset();
}

}  // namespace ombrix
