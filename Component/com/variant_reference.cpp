#include "com/variant_reference.h"

namespace com {
namespace {

const VARIANT& EmptyVariant() {
    static const VARIANT empty = [] {
        VARIANT value;
        VariantInit(&value);
        return value;
    }();
    return empty;
}

// A variable holding an array (by value), seen through its references.
const VARIANT* ReferencedArray(const VARIANTARG& argument) {
    if (V_VT(&argument) != (VT_VARIANT | VT_BYREF)) return nullptr;
    const VARIANT& target = Dereference(argument);
    const VARTYPE vt = V_VT(&target);
    return (vt & VT_ARRAY) && !(vt & VT_BYREF) ? &target : nullptr;
}

}  // namespace

const VARIANT& Dereference(const VARIANT& value) {
    const VARIANT* current = &value;
    for (int depth = 0; V_VT(current) == (VT_VARIANT | VT_BYREF); ++depth) {
        if (depth == kMaxReferenceDepth || !V_VARIANTREF(current)) return EmptyVariant();
        current = V_VARIANTREF(current);
    }
    // Any other reference without a target is no value either.
    if ((V_VT(current) & VT_BYREF) && !V_BYREF(current)) return EmptyVariant();
    return *current;
}

DispatchArguments::DispatchArguments(DISPPARAMS* params) : params_(params) {
    if (!params || !params->rgvarg || params->cArgs > kMaxRewritten) return;
    bool any = false;
    for (UINT i = 0; i < params->cArgs && !any; ++i) any = ReferencedArray(params->rgvarg[i]) != nullptr;
    if (!any) return;
    for (UINT i = 0; i < params->cArgs; ++i) {
        arguments_[i] = params->rgvarg[i];  // a shallow copy: nothing here is owned or cleared
        if (const VARIANT* array = ReferencedArray(params->rgvarg[i])) {
            V_VT(&arguments_[i]) = static_cast<VARTYPE>(V_VT(array) | VT_BYREF);
            V_ARRAYREF(&arguments_[i]) = const_cast<SAFEARRAY**>(&V_ARRAY(array));
        }
    }
    rewritten_ = *params;
    rewritten_.rgvarg = arguments_;
    params_ = &rewritten_;
}

}  // namespace com
