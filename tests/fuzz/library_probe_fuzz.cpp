// Binding an external crypto library, against a stand-in library whose exports the input decides:
// which names exist, what the version probe answers, and the answers of the FIPS switch (the
// FIPS_mode pair or OpenSSL 3's provider calls). The binding either binds every entry from the
// stand-in, or fails with 33016 or 33017 leaving the linked table published, FIPS mode off and the
// stand-in unloaded; nothing but the version probe is called before the probe has passed, and no
// table entry is called at all.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "base/error_codes.h"
#include "binding/binding.h"  // first: it lets the deprecated calls through
#include <openssl/conf.h>
#include <openssl/provider.h>
#include "binding/shared_library.h"
#include "fuzz_util.h"

using namespace ombrix;
using namespace ombrix::fuzz;

namespace {

// What the stand-in answers, from the front of the input.
struct Script {
    bool loads, has_version, has_mode, has_mode_set, has_providers, inside_operation;
    int directory;  // 0 none, 1 a missing directory, 2 one with a fipsmodule.cnf
    unsigned long version;
    int mode, mode_set;
    uint8_t provider;  // bit answers of the provider calls
    std::vector<uint8_t> missing;  // bit i: the i-th name is not exported
};

Script g_script;
bool g_version_passed = false;  // the version probe answered OpenSSL 3
int g_loads = 0, g_unloads = 0, g_bios = 0, g_confs = 0;
int g_library_cookie, g_bio_cookie, g_conf_cookie;

void BeforeProbe() { FUZZ_CHECK(g_version_passed); }

unsigned long FakeVersion() {
    g_version_passed = (g_script.version >> 28) == 3;
    return g_script.version;
}
int FakeFipsMode() {
    BeforeProbe();
    return g_script.mode;
}
int FakeFipsModeSet(int on) {
    BeforeProbe();
    FUZZ_CHECK(on == 1);
    return g_script.mode_set;
}
// A provider call's answer: bit `bit` of the script's provider byte.
int Answer(int bit) {
    BeforeProbe();
    return (g_script.provider >> bit) & 1;
}
int FakeSetSearchPath(OSSL_LIB_CTX*, const char* path) {
    FUZZ_CHECK(path && *path);
    return Answer(0);
}
int FakeAvailable(OSSL_LIB_CTX*, const char* name) {
    FUZZ_CHECK(std::string_view(name) == "fips");
    return Answer(1);
}
int FakeFipsEnabled(OSSL_LIB_CTX*) { return Answer(2); }
int FakeEnableFips(OSSL_LIB_CTX*, int on) {
    FUZZ_CHECK(on == 1);
    return Answer(3);
}
// A stand-in object (its cookie), or nullptr when the script refuses it; `live` counts them.
template <class Object>
Object* Make(int refuse_bit, int& live, int& cookie) {
    if (Answer(refuse_bit)) return nullptr;
    ++live;
    return reinterpret_cast<Object*>(&cookie);
}
template <class Object>
void Free(Object* object, int& live, int& cookie) {
    FUZZ_CHECK(object == reinterpret_cast<Object*>(&cookie));
    --live;
}
CONF* FakeConfNew(CONF_METHOD*) { return Make<CONF>(4, g_confs, g_conf_cookie); }
void FakeConfFree(CONF* conf) { Free(conf, g_confs, g_conf_cookie); }
int FakeConfLoadBio(CONF* conf, BIO* text, long*) {
    FUZZ_CHECK(conf && text);
    return Answer(5);
}
int FakeModulesLoad(const CONF* conf, const char*, unsigned long) {
    FUZZ_CHECK(conf);
    return Answer(6);
}
BIO* FakeBioNewMemBuf(const void* bytes, int length) {
    FUZZ_CHECK(bytes && length > 0);
    return Make<BIO>(7, g_bios, g_bio_cookie);
}
int FakeBioFree(BIO* bio) {
    Free(bio, g_bios, g_bio_cookie);
    return 1;
}
// Every other export: binding never calls a table entry.
void EntryCalled() { FUZZ_CHECK(!"a table entry was called while binding"); }

static_assert(std::is_same_v<decltype(&FakeSetSearchPath), decltype(&::OSSL_PROVIDER_set_default_search_path)> &&
              std::is_same_v<decltype(&FakeAvailable), decltype(&::OSSL_PROVIDER_available)> &&
              std::is_same_v<decltype(&FakeFipsEnabled), decltype(&::EVP_default_properties_is_fips_enabled)> &&
              std::is_same_v<decltype(&FakeEnableFips), decltype(&::EVP_default_properties_enable_fips)> &&
              std::is_same_v<decltype(&FakeConfNew), decltype(&::NCONF_new)> &&
              std::is_same_v<decltype(&FakeConfFree), decltype(&::NCONF_free)> &&
              std::is_same_v<decltype(&FakeConfLoadBio), decltype(&::NCONF_load_bio)> &&
              std::is_same_v<decltype(&FakeModulesLoad), decltype(&::CONF_modules_load)> &&
              std::is_same_v<decltype(&FakeBioNewMemBuf), decltype(&::BIO_new_mem_buf)> &&
              std::is_same_v<decltype(&FakeBioFree), decltype(&::BIO_free)>);

// Every name the binding may look up, with its stand-in; `never` for names it must not look up.
struct Export {
    int index;  // in the missing bitmap; -1 for the switch names, which the flags decide
    void* address;
    bool never;
};

const std::unordered_map<std::string_view, Export>& Exports() {
    static const std::unordered_map<std::string_view, Export> exports = [] {
        std::unordered_map<std::string_view, Export> map;
        int index = 0;
        const auto entry = [&](const char* name, bool never = false) {
            map.emplace(name, Export{index++, reinterpret_cast<void*>(&EntryCalled), never});
        };
#define ENTRY(name) entry(#name);
#define RENAMED(name, successor) entry(#name), entry(#successor);
#define FIPS_SWITCH(name, type)
#define UNLINKED(name, type) entry(#name);
#define LINKED_ONLY(name) entry(#name, true);
#define OPTIONAL(name) entry(#name);
#include "binding/entries.h"
#include "binding/entries_end.h"
        map["BIO_new_mem_buf"].address = reinterpret_cast<void*>(&FakeBioNewMemBuf);
        map["BIO_free"].address = reinterpret_cast<void*>(&FakeBioFree);
        const std::pair<const char*, void*> switches[] = {
            {"OpenSSL_version_num", reinterpret_cast<void*>(&FakeVersion)},
            {"FIPS_mode", reinterpret_cast<void*>(&FakeFipsMode)},
            {"FIPS_mode_set", reinterpret_cast<void*>(&FakeFipsModeSet)},
            {"OSSL_PROVIDER_set_default_search_path", reinterpret_cast<void*>(&FakeSetSearchPath)},
            {"OSSL_PROVIDER_available", reinterpret_cast<void*>(&FakeAvailable)},
            {"EVP_default_properties_is_fips_enabled", reinterpret_cast<void*>(&FakeFipsEnabled)},
            {"EVP_default_properties_enable_fips", reinterpret_cast<void*>(&FakeEnableFips)},
            {"NCONF_new", reinterpret_cast<void*>(&FakeConfNew)},
            {"NCONF_free", reinterpret_cast<void*>(&FakeConfFree)},
            {"NCONF_load_bio", reinterpret_cast<void*>(&FakeConfLoadBio)},
            {"CONF_modules_load", reinterpret_cast<void*>(&FakeModulesLoad)},
        };
        for (const auto& [name, address] : switches) map.emplace(name, Export{-1, address, false});
        return map;
    }();
    return exports;
}

// The address the stand-in exports under `name`, or nullptr.
void* Exported(std::string_view name) {
    const auto found = Exports().find(name);
    if (found == Exports().end()) return nullptr;
    const Export& e = found->second;
    FUZZ_CHECK(!e.never);
    if (e.index >= 0) {
        const size_t byte = static_cast<size_t>(e.index) / 8;
        const bool missing = byte < g_script.missing.size() && (g_script.missing[byte] >> (e.index % 8) & 1);
        return missing ? nullptr : e.address;
    }
    if (name == "OpenSSL_version_num") return g_script.has_version ? e.address : nullptr;
    if (name == "FIPS_mode") return g_script.has_mode ? e.address : nullptr;
    if (name == "FIPS_mode_set") return g_script.has_mode_set ? e.address : nullptr;
    return g_script.has_providers ? e.address : nullptr;
}

// A directory holding a provider configuration, written once.
const std::string& ConfiguredDirectory() {
    static const std::string directory = [] {
        const std::filesystem::path path = std::filesystem::temp_directory_path() / "ombrix_library_probe";
        std::error_code ignored;
        std::filesystem::create_directories(path, ignored);
        if (std::FILE* file = std::fopen((path / "fipsmodule.cnf").c_str(), "wb")) {
            std::fputs("[fips_sect]\nactivate = 1\n", file);
            std::fclose(file);
        }
        return path.string();
    }();
    return directory;
}

class StandInLoader final : public SharedLibraryLoader {
public:
    void* Load(const char* file_name) const override {
        FUZZ_CHECK(std::string_view(file_name) == "standin.dll");
        if (!g_script.loads) return nullptr;
        FUZZ_CHECK(g_loads == g_unloads);  // one library at a time
        ++g_loads;
        return &g_library_cookie;
    }
    void* Lookup(void* library, const char* name) const override {
        FUZZ_CHECK(library == &g_library_cookie && g_loads == g_unloads + 1);
        return Exported(name);
    }
    void Unload(void* library) const override {
        FUZZ_CHECK(library == &g_library_cookie);
        ++g_unloads;
        FUZZ_CHECK(g_loads == g_unloads);
    }
    std::string Directory(void* library) const override {
        FUZZ_CHECK(library == &g_library_cookie);
        return g_script.directory == 0 ? std::string() : g_script.directory == 1 ? "/nonexistent/ombrix" : ConfiguredDirectory();
    }
};

const StandInLoader kLoader;

bool LinkedTablePublished() {
    const CryptoBinding& table = Crypto();
    return !FipsMode() && !table.FIPS_mode && !table.FIPS_mode_set && table.AES_set_encrypt_key == &::AES_set_encrypt_key &&
           table.RC5_32_set_key == &::RC5_32_set_key && HoldCrypto().get() == &table;
}

// Every entry of the published table is the stand-in's export of its name (or its successor's).
bool StandInTablePublished() {
    const CryptoBinding& table = Crypto();
    const auto is = [](auto slot, void* expected) { return reinterpret_cast<void*>(slot) == expected; };
    bool all = FipsMode() && HoldCrypto().get() == &table;
#define ENTRY(name) all = all && table.name && is(table.name, Exported(#name));
#define RENAMED(name, successor) \
    all = all && table.name && is(table.name, Exported(#name) ? Exported(#name) : Exported(#successor));
#define FIPS_SWITCH(name, type) all = all && is(table.name, Exported(#name));
#define UNLINKED(name, type) all = all && is(table.name, Exported(#name));
#define LINKED_ONLY(name) all = all && !table.name;
#define OPTIONAL(name) all = all && is(table.name, Exported(#name));
#include "binding/entries.h"
#include "binding/entries_end.h"
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    g_script = Script{!(flags & 1), !(flags & 2), !(flags & 4), !(flags & 8), (flags & 16) != 0, (flags & 32) != 0,
                      (flags >> 6) % 3, input.Word(), input.Byte(), input.Byte(), input.Byte(), {}};
    g_script.missing = input.Take(input.RestSize());
    g_version_passed = false;
    g_loads = g_unloads = g_bios = g_confs = 0;

    if (g_script.inside_operation) {
        // A thread inside an operation cannot rebind: nothing is loaded, the binding stays.
        const CryptoUse use;
        FUZZ_CHECK(BindCryptoLibrary("standin.dll", kLoader) == kErrFipsLoad);
        FUZZ_CHECK(g_loads == 0 && LinkedTablePublished());
        return 0;
    }

    const int code = BindCryptoLibrary("standin.dll", kLoader);
    FUZZ_CHECK(g_bios == 0 && g_confs == 0);  // the provider switch frees what it made
    const bool probe_passes = g_script.loads && g_script.has_version && (g_script.version >> 28) == 3;
    if (code == 0) {
        FUZZ_CHECK(probe_passes && g_version_passed);
        FUZZ_CHECK(g_loads == 1 && g_unloads == 0);
        FUZZ_CHECK(StandInTablePublished());
        {
            // A hold keeps the library loaded past the rebinding to the linked library.
            const CryptoHold hold = HoldCrypto();
            FUZZ_CHECK(BindCryptoLibrary(nullptr, kLoader) == 0);
            FUZZ_CHECK(LinkedTablePublished() && g_unloads == 0 && hold->AES_set_encrypt_key);
        }
        FUZZ_CHECK(g_unloads == 1);
    } else {
        FUZZ_CHECK(code == kErrFipsLoad || code == kErrFipsInit);
        FUZZ_CHECK(probe_passes || code == kErrFipsLoad);
        FUZZ_CHECK(g_loads == g_unloads);
        FUZZ_CHECK(LinkedTablePublished());
    }
    return 0;
}
