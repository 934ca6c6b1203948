#include "crypto/algorithm_factory.h"

#include <new>

#include "binding/binding.h"
#include "crypto/algorithm_types.h"
#include "crypto/ciphers.h"
#include "crypto/unix_crypt.h"

namespace ombrix {
namespace {

template <class Algorithm>
std::unique_ptr<cryptSYMMETRIC> Make() {
    std::unique_ptr<cryptSYMMETRIC> object(new (std::nothrow) Algorithm());
    // A cipher whose schedule could not be allocated would pass data through unencrypted.
    if (object && !object->HasKeySchedule()) object.reset();
    return object;
}

}  // namespace

std::unique_ptr<cryptSYMMETRIC> CreateSymmetric(int32_t type) {
    namespace at = algorithm_type;
    switch (type) {
        case at::kDES: return Make<cryptDES>();
        case at::kTripleDES: return Make<cryptTripleDES>();
        case at::kAES: return Make<cryptAES>();
        case at::kAES192: return Make<cryptAES192>();
        case at::kAES256: return Make<cryptAES256>();
        case at::kBlowfish: return Make<cryptBlowfish>();
        case at::kCast: return Make<cryptCast>();
        case at::kRC2: return Make<cryptRC2>();
        case at::kRC4: return Make<cryptRC4>();
        case at::kRC5:
            // A FIPS library binds no RC5-32 functions.
            if (!Crypto().RC5_32_set_key || !Crypto().RC5_32_encrypt || !Crypto().RC5_32_decrypt) return nullptr;
            return Make<cryptRC5>();
        case at::kUNIXcrypt: return Make<cryptUNIXcrypt>();
        case at::kUNIXcrypt3: return Make<cryptUNIXcrypt3>();
        case at::kNone: return std::unique_ptr<cryptSYMMETRIC>(new (std::nothrow) cryptSYMMETRIC());
        default: return nullptr;
    }
}

}  // namespace ombrix
