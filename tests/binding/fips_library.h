// What the FIPS stand-in libraries share with the tests that load them.
#pragma once

#define FIPS_SWITCH_SUCCEEDS 1
#define FIPS_SWITCH_ALREADY_ON 2
#define FIPS_SWITCH_FAILS 3
#define FIPS_SWITCH_MISSING 4

struct FipsLibraryCounters {
    long mode_calls;      // calls of FIPS_mode
    long mode_set_calls;  // calls of FIPS_mode_set
    long crypto_calls;    // calls of the counted entries (BIO_new, BN_bin2bn, BN_num_bits, EVP_DigestUpdate, HMAC_Update,
                          // and the old-shaped HMAC_CTX_init of a 1.0.2-shaped library)
};

// Exported as "fips_library_counters".
using FipsLibraryCountersFunction = FipsLibraryCounters* (*)();
