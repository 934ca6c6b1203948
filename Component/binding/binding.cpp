#include "binding/binding.h"

#include <openssl/conf.h>
#include <openssl/provider.h>

#include <climits>
#include <cstdio>
#include <new>
#include <string>

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
#undef ENTRY
#undef RENAMED
#undef FIPS_SWITCH
#undef UNLINKED
#undef LINKED_ONLY
#undef OPTIONAL
    };
}

constexpr CryptoBinding kLinkedTable = LinkedTable();

// An external library and the table bound into it, unloaded when the last hold goes.
struct LoadedLibrary {
    LoadedLibrary(void* handle, const CryptoBinding& table) : handle(handle), table(table) {}
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    ~LoadedLibrary() { UnloadSharedLibrary(handle); }
    void* handle;
    CryptoBinding table;
};

// Process-wide and unguarded: rebinding is done while no other operation of the module runs.
constinit CryptoBinding g_table = LinkedTable();
void* g_library = nullptr;                  // the library being bound, until it is owned
std::shared_ptr<LoadedLibrary> g_loaded;    // the bound external library
int g_fips_mode = 0;

template <class Function>
bool Lookup(void* library, const char* name, Function& slot) {
    void* address = LookupSharedSymbol(library, name);
    slot = reinterpret_cast<Function>(address);
    return address != nullptr;
}

// The common tail of every failure and of a bind without a name.
void BindLinkedLibrary() {
    g_table.FIPS_mode = nullptr;
    g_table.FIPS_mode_set = nullptr;
    g_fips_mode = 0;
    if (g_library) {
        UnloadSharedLibrary(g_library);
        g_library = nullptr;
    }
    g_loaded.reset();  // unloaded now, or when the last object made in it is gone
    g_table = LinkedTable();
}

int FailBinding(int code) {
    BindLinkedLibrary();
    return code;
}

// The generation of a library: OpenSSL_version_num's major version. A library without it predates
// OpenSSL 1.1 (1.0.2 names its version function SSLeay) and has function shapes that the table
// does not match, so nothing else of it may be called.
bool IsOpenSsl3(void* library) {
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

    bool Lookup(void* library) {
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
    bool SwitchOn(void* library) const {
        const std::string directory = SharedLibraryDirectory(library);
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

// The FIPS mode flag is 1 from here on; the linked library's random method goes back to its
// default when the library was in FIPS mode already.
void EnterFipsMode(bool already_on) {
    g_fips_mode = 1;
    if (already_on) ::RAND_set_rand_method(nullptr);
}

}  // namespace

const CryptoBinding& Crypto() { return g_table; }

CryptoHold HoldCrypto() {
    if (g_loaded) return CryptoHold(g_loaded, &g_loaded->table);
    return CryptoHold(CryptoHold(), &kLinkedTable);  // the linked library is never unloaded
}

bool FipsMode() { return g_fips_mode != 0; }

int BindCryptoLibrary(const char* library_name) {
    if (!library_name || !*library_name) {
        BindLinkedLibrary();
        return 0;
    }
    // A library still bound is released first so that its handle is never lost.
    if (g_library || g_loaded) BindLinkedLibrary();

    void* library = LoadSharedLibrary(library_name);
    if (!library) return FailBinding(kErrFipsLoad);
    g_library = library;
    g_table = CryptoBinding{};
    if (!IsOpenSsl3(library)) return FailBinding(kErrFipsLoad);

    // A library with the FIPS_mode/FIPS_mode_set pair switches with it; one with neither switches
    // with OpenSSL 3's providers.
    const bool has_mode_set = Lookup(library, "FIPS_mode_set", g_table.FIPS_mode_set);
    const bool has_mode = Lookup(library, "FIPS_mode", g_table.FIPS_mode);
    const bool provider_switch = !has_mode_set && !has_mode;
    if (provider_switch) {
        ProviderSwitch providers{};
        if (!providers.Lookup(library)) return FailBinding(kErrFipsLoad);
        const bool already_on = providers.AlreadyOn();
        if (!already_on && !providers.SwitchOn(library)) return FailBinding(kErrFipsInit);
        EnterFipsMode(already_on);
    } else if (!has_mode_set || !has_mode) {
        return FailBinding(kErrFipsLoad);
    } else if (g_table.FIPS_mode() != 0) {
        EnterFipsMode(true);
    } else if (g_table.FIPS_mode_set(1) == 0) {
        return FailBinding(kErrFipsInit);
    } else {
        EnterFipsMode(false);
    }

    // Every other entry by name, in table order; the RC5-32 entries are not looked up and the
    // optional ones may be missing. A name that OpenSSL 3 removed is looked up under its
    // successor's name when the library does not export it; the one without a successor is
    // required only of a library with the FIPS_mode pair (OpenSSL 3 itself lacks it).
#define ENTRY(name) \
    if (!Lookup(library, #name, g_table.name)) return FailBinding(kErrFipsLoad);
#define RENAMED(name, successor) \
    if (!Lookup(library, #name, g_table.name) && !Lookup(library, #successor, g_table.name)) \
        return FailBinding(kErrFipsLoad);
#define FIPS_SWITCH(name, type)
#define UNLINKED(name, type) \
    if (!Lookup(library, #name, g_table.name) && !provider_switch) return FailBinding(kErrFipsLoad);
#define LINKED_ONLY(name)
#define OPTIONAL(name) Lookup(library, #name, g_table.name);
#include "binding/entries.h"
#undef ENTRY
#undef RENAMED
#undef FIPS_SWITCH
#undef UNLINKED
#undef LINKED_ONLY
#undef OPTIONAL
    LoadedLibrary* loaded = new (std::nothrow) LoadedLibrary(library, g_table);
    if (!loaded) return FailBinding(kErrFipsLoad);
    g_library = nullptr;
    try {
        g_loaded.reset(loaded);  // on failure shared_ptr deletes `loaded`, which unloads the library
    } catch (const std::bad_alloc&) {
        return FailBinding(kErrFipsLoad);
    }
    return 0;
}

}  // namespace ombrix
