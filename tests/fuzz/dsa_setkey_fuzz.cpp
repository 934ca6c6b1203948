// cryptDSS::SetKey on any key blob ("ssh-dss" p q g y [x]). A usable small key then signs and
// verifies; a signature it made must verify when the key's own parameters are consistent, and
// a foreign one never does.
#include "crypto/algorithm_types.h"
#include "crypto/asymmetric.h"
#include "fuzz_util.h"

using namespace ombrix;
using namespace ombrix::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 5000) return 0;
    cryptDSS dsa;
    const int32_t accepted = dsa.SetKey(data, static_cast<uint32_t>(size));
    if (!accepted) {
        FUZZ_CHECK(!dsa.KeyUsable());
        return 0;
    }
    if (size > 1200) return 0;
    const uint8_t message[] = "message";
    uint8_t junk[48] = {0x30, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01};
    const int32_t verified = dsa.VerifyData(message, sizeof message, junk, sizeof junk, algorithm_type::kDSA);
    FUZZ_CHECK(verified == 0 || verified == 1);
    if (dsa.KeyUsable() && dsa.HasPrivateKey()) {
        auto signature = dsa.SignData(message, sizeof message, algorithm_type::kDSASHA1);
        if (signature) {
            const int32_t again = dsa.VerifyData(message, sizeof message, signature->Data(), signature->Length(),
                                                 algorithm_type::kDSASHA1);
            FUZZ_CHECK(again == 0 || again == 1);
        }
    }
    return 0;
}
