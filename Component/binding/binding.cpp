#include "binding/binding.h"

#include <openssl/conf.h>
#include <openssl/provider.h>

#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "binding/shared_library.h"
#include "base/error_codes.h"

namespace ombrix {
namespace {

// The table as it points into the OpenSSL linked into the module.
constexpr CryptoBinding LinkedTable() {
    return CryptoBinding{
#define ENTRY(name) &::name,
#define RENAMED(name, successor) &::successor,
#define FIPS_SWITCH(name, type) nullptr,
#define UNLINKED(name, type) nullptr,
#define LINKED_ONLY(name) &::name,
#define OPTIONAL(name) &::name,
#include "binding/entries.h"
#include "binding/entries_end.h"
    };
}

constexpr CryptoBinding kLinkedTable = LinkedTable();

// The platform's loader, the default of BindCryptoLibrary.
class PlatformLoader final : public SharedLibraryLoader {
public:
    void* Load(const char* file_name) const override { return LoadSharedLibrary(file_name); }
    void* Lookup(void* library, const char* name) const override { return LookupSharedSymbol(library, name); }
    void Unload(void* library) const override { UnloadSharedLibrary(library); }
    std::string Directory(void* library) const override { return SharedLibraryDirectory(library); }
};
constinit const PlatformLoader kPlatformLoader;

// A loaded library: unloaded when the owner goes, unless released to a LoadedLibrary first.
class LibraryHandle {
public:
    LibraryHandle(const SharedLibraryLoader& loader, void* handle) : loader_(loader), handle_(handle) {}
    LibraryHandle(const LibraryHandle&) = delete;
    LibraryHandle& operator=(const LibraryHandle&) = delete;
    ~LibraryHandle() {
        if (handle_) loader_.Unload(handle_);
    }
    void* Get() const { return handle_; }
    const SharedLibraryLoader& Loader() const { return loader_; }
    void* Release() { return std::exchange(handle_, nullptr); }

private:
    const SharedLibraryLoader& loader_;
    void* handle_;
};

// An external library and the table bound into it, unloaded when the last hold goes.
struct LoadedLibrary {
    LoadedLibrary(LibraryHandle& library, const CryptoBinding& table) : library(library.Loader(), library.Release()), table(table) {}
    LibraryHandle library;
    const CryptoBinding table;
};

// Operations read the table while they run (CryptoUse, shared); a rebinding (exclusive) waits
// until they have ended and holds back those that start meanwhile, so that it cannot be starved.
class RebindingGate {
public:
    void EnterShared() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !rebinding_ && waiting_ == 0; });
        ++readers_;
    }
    void LeaveShared() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (--readers_ == 0) changed_.notify_all();
    }
    void EnterExclusive() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++waiting_;
        changed_.wait(lock, [this] { return !rebinding_ && readers_ == 0; });
        --waiting_;
        rebinding_ = true;
    }
    void LeaveExclusive() {
        std::lock_guard<std::mutex> lock(mutex_);
        rebinding_ = false;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    long readers_ = 0;
    long waiting_ = 0;
    bool rebinding_ = false;
};

RebindingGate g_gate;
thread_local int t_crypto_uses = 0;  // CryptoUse nesting on this thread

// The published table is immutable: the linked one or a LoadedLibrary's. It and the library
// that owns it change together, under g_published_lock, and only inside the exclusive gate.
constinit std::atomic<const CryptoBinding*> g_published{&kLinkedTable};
std::mutex g_published_lock;
std::shared_ptr<LoadedLibrary> g_loaded;  // the bound external library

// Publishes `loaded`'s table, or the linked one; the library bound before is unloaded now, or
// when the last hold on it goes.
void Publish(std::shared_ptr<LoadedLibrary> loaded) {
    std::shared_ptr<LoadedLibrary> previous;
    {
        std::lock_guard<std::mutex> lock(g_published_lock);
        g_published.store(loaded ? &loaded->table : &kLinkedTable, std::memory_order_release);
        previous = std::exchange(g_loaded, std::move(loaded));
    }
}

template <class Function>
bool Lookup(const LibraryHandle& library, const char* name, Function& slot) {
    void* address = library.Loader().Lookup(library.Get(), name);
    slot = reinterpret_cast<Function>(address);
    return address != nullptr;
}

// The generation of a library: OpenSSL_version_num's major version. A library without it predates
// OpenSSL 1.1 (1.0.2 names its version function SSLeay) and has function shapes that the table
// does not match, so nothing else of it may be called.
bool IsOpenSsl3(const LibraryHandle& library) {
    unsigned long (*version)(void) = nullptr;
    return Lookup(library, "OpenSSL_version_num", version) && (version() >> 28) == 3;
}

// OpenSSL 3's own FIPS switch, for a library without FIPS_mode/FIPS_mode_set: the "fips"
// provider with the configuration that `openssl fipsinstall` wrote beside the library, and the
// "base" provider (key encoders and the entropy source), loaded into the default library context;
// then FIPS becomes the default property of every algorithm fetch.
struct ProviderSwitch {
    decltype(&::OSSL_PROVIDER_set_default_search_path) set_search_path;
    decltype(&::OSSL_PROVIDER_available) available;
    decltype(&::EVP_default_properties_is_fips_enabled) fips_enabled;
    decltype(&::EVP_default_properties_enable_fips) enable_fips;
    decltype(&::NCONF_new) conf_new;
    decltype(&::NCONF_free) conf_free;
    decltype(&::NCONF_load_bio) conf_load_bio;
    decltype(&::CONF_modules_load) modules_load;
    decltype(&::BIO_new_mem_buf) bio_new_mem_buf;
    decltype(&::BIO_free) bio_free;

    bool Lookup(const LibraryHandle& library) {
        return ombrix::Lookup(library, "OSSL_PROVIDER_set_default_search_path", set_search_path) &&
               ombrix::Lookup(library, "OSSL_PROVIDER_available", available) &&
               ombrix::Lookup(library, "EVP_default_properties_is_fips_enabled", fips_enabled) &&
               ombrix::Lookup(library, "EVP_default_properties_enable_fips", enable_fips) &&
               ombrix::Lookup(library, "NCONF_new", conf_new) && ombrix::Lookup(library, "NCONF_free", conf_free) &&
               ombrix::Lookup(library, "NCONF_load_bio", conf_load_bio) &&
               ombrix::Lookup(library, "CONF_modules_load", modules_load) &&
               ombrix::Lookup(library, "BIO_new_mem_buf", bio_new_mem_buf) && ombrix::Lookup(library, "BIO_free", bio_free);
    }

    bool AlreadyOn() const { return fips_enabled(nullptr) == 1 && available(nullptr, "fips") == 1; }

    // Loads both providers and makes FIPS the default property. False when the configuration is
    // missing or the provider does not activate (its self-test or integrity check failed).
    bool SwitchOn(const LibraryHandle& library) const {
        const std::string directory = library.Loader().Directory(library.Get());
        std::string config =
            "openssl_conf = ombrix_fips_init\n"
            "[ombrix_fips_init]\nproviders = ombrix_fips_providers\n"
            "[ombrix_fips_providers]\nfips = fips_sect\nbase = ombrix_fips_base\n"
            "[ombrix_fips_base]\nactivate = 1\n";
        if (directory.empty() || !AppendFile(directory + "/fipsmodule.cnf", config) || config.size() > INT_MAX) return false;
        // The provider module (fips.dll) is looked for beside the library too.
        if (set_search_path(nullptr, directory.c_str()) != 1) return false;
        BIO* text = bio_new_mem_buf(config.data(), static_cast<int>(config.size()));
        CONF* conf = conf_new(nullptr);
        const bool loaded = text && conf && conf_load_bio(conf, text, nullptr) > 0 && modules_load(conf, nullptr, 0) > 0;
        if (conf) conf_free(conf);
        if (text) bio_free(text);
        return loaded && available(nullptr, "fips") == 1 && enable_fips(nullptr, 1) == 1;
    }

    // Appends the file's text (the provider's section, with its integrity values) to `text`.
    static bool AppendFile(const std::string& path, std::string& text) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (!file) return false;
        char chunk[4096];
        size_t n = 0;
        bool ok = true;
        while (ok && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            try {
                text.append(chunk, n);
            } catch (const std::bad_alloc&) {
                ok = false;
            }
        }
        ok = ok && !std::ferror(file);
        std::fclose(file);
        return ok;
    }
};

// Binds the named library into `table`, switched into FIPS mode; 0 or the error code.
// `already_on` tells whether the library was in FIPS mode before.
int BindExternal(const LibraryHandle& library, CryptoBinding& table, bool& already_on) {
    if (!IsOpenSsl3(library)) return kErrFipsLoad;

    // A library with the FIPS_mode/FIPS_mode_set pair switches with it; one with neither switches
    // with OpenSSL 3's providers.
    const bool has_mode_set = Lookup(library, "FIPS_mode_set", table.FIPS_mode_set);
    const bool has_mode = Lookup(library, "FIPS_mode", table.FIPS_mode);
    const bool provider_switch = !has_mode_set && !has_mode;
    if (provider_switch) {
        ProviderSwitch providers{};
        if (!providers.Lookup(library)) return kErrFipsLoad;
        already_on = providers.AlreadyOn();
        if (!already_on && !providers.SwitchOn(library)) return kErrFipsInit;
    } else if (!has_mode_set || !has_mode) {
        return kErrFipsLoad;
    } else {
        already_on = table.FIPS_mode() != 0;
        if (!already_on && table.FIPS_mode_set(1) == 0) return kErrFipsInit;
    }

    // Every other entry by name, in table order; the RC5-32 entries are not looked up and the
    // optional ones may be missing. A name that OpenSSL 3 removed is looked up under its
    // successor's name when the library does not export it; the one without a successor is
    // required only of a library with the FIPS_mode pair (OpenSSL 3 itself lacks it).
#define ENTRY(name) \
    if (!Lookup(library, #name, table.name)) return kErrFipsLoad;
#define RENAMED(name, successor) \
    if (!Lookup(library, #name, table.name) && !Lookup(library, #successor, table.name)) return kErrFipsLoad;
#define FIPS_SWITCH(name, type)
#define UNLINKED(name, type) \
    if (!Lookup(library, #name, table.name) && !provider_switch) return kErrFipsLoad;
#define LINKED_ONLY(name)
#define OPTIONAL(name) Lookup(library, #name, table.name);
#include "binding/entries.h"
#include "binding/entries_end.h"
    return 0;
}

// The exclusive side of the gate for the length of a rebinding.
class Rebinding {
public:
    Rebinding() { g_gate.EnterExclusive(); }
    ~Rebinding() { g_gate.LeaveExclusive(); }
    Rebinding(const Rebinding&) = delete;
    Rebinding& operator=(const Rebinding&) = delete;
};

}  // namespace

CryptoUse::CryptoUse() {
    if (t_crypto_uses++ == 0) g_gate.EnterShared();
}

CryptoUse::~CryptoUse() {
    if (--t_crypto_uses == 0) g_gate.LeaveShared();
}

bool CryptoUse::Active() { return t_crypto_uses > 0; }

const CryptoBinding& Crypto() { return *g_published.load(std::memory_order_acquire); }

CryptoHold HoldCrypto() {
    std::lock_guard<std::mutex> lock(g_published_lock);
    if (g_loaded) return CryptoHold(g_loaded, &g_loaded->table);
    return CryptoHold(CryptoHold(), &kLinkedTable);  // the linked library is never unloaded
}

// FIPS mode is on exactly while an external library's table is published.
bool FipsMode() { return g_published.load(std::memory_order_acquire) != &kLinkedTable; }

int BindCryptoLibrary(const char* library_name) { return BindCryptoLibrary(library_name, kPlatformLoader); }

int BindCryptoLibrary(const char* library_name, const SharedLibraryLoader& loader) {
    // An operation of this thread reads the table (an event handler puts FIPS): the binding stays.
    if (CryptoUse::Active()) return kErrFipsLoad;
    const Rebinding rebinding;
    // The linked library first: a library still bound is released before another is loaded.
    Publish(nullptr);
    if (!library_name || !*library_name) return 0;

    LibraryHandle library(loader, loader.Load(library_name));
    if (!library.Get()) return kErrFipsLoad;
    CryptoBinding table{};
    bool already_on = false;
    if (const int code = BindExternal(library, table, already_on)) return code;  // unloads the library
    std::shared_ptr<LoadedLibrary> loaded;
    try {
        loaded = std::make_shared<LoadedLibrary>(library, table);
    } catch (const std::bad_alloc&) {
        return kErrFipsLoad;
    }
    // The linked library's random method goes back to its default when the library was in FIPS
    // mode already.
    if (already_on) ::RAND_set_rand_method(nullptr);
    Publish(std::move(loaded));
    return 0;
}

}  // namespace ombrix
