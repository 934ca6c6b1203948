// The algorithm factory: a new algorithm object for the control's Type.
#pragma once

#include <cstdint>
#include <memory>

#include "crypto/symmetric.h"

namespace ombrix {

// The cipher, Unix crypt or plain (Type None) object for a Type; null when the Type is of
// another kind, when its library functions are not bound, or when memory is lacking.
std::unique_ptr<cryptSYMMETRIC> CreateSymmetric(int32_t type);

}  // namespace ombrix
