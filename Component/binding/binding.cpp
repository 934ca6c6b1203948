#include "binding/binding.h"

#include <new>

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

    if (!Lookup(library, "FIPS_mode_set", g_table.FIPS_mode_set) || !Lookup(library, "FIPS_mode", g_table.FIPS_mode))
        return FailBinding(kErrFipsLoad);
    if (g_table.FIPS_mode() != 0) {
        // Already in FIPS mode: the linked library's random method goes back to its default.
        g_fips_mode = 1;
        ::RAND_set_rand_method(nullptr);
    } else if (g_table.FIPS_mode_set(1) == 0) {
        return FailBinding(kErrFipsInit);
    } else {
        g_fips_mode = 1;
    }

    // Every other entry by name, in table order; the RC5-32 entries are not looked up and the
    // optional ones may be missing.
#define ENTRY(name) \
    if (!Lookup(library, #name, g_table.name)) return FailBinding(kErrFipsLoad);
#define RENAMED(name, successor) ENTRY(name)
#define FIPS_SWITCH(name, type)
#define UNLINKED(name, type) ENTRY(name)
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
