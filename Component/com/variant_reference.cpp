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

namespace {

// The interface a parameter declares (VT_PTR to an interface, or IUnknown*/IDispatch*), if any.
bool DeclaredInterface(ITypeInfo* info, const TYPEDESC& type, IID& iid) {
    if (type.vt == VT_UNKNOWN || type.vt == VT_DISPATCH) {
        iid = type.vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch;
        return true;
    }
    if (type.vt != VT_PTR || type.lptdesc->vt != VT_USERDEFINED) return false;
    ITypeInfo* referenced = nullptr;
    if (FAILED(info->GetRefTypeInfo(type.lptdesc->hreftype, &referenced))) return false;
    TYPEATTR* attributes = nullptr;
    bool found = false;
    if (SUCCEEDED(referenced->GetTypeAttr(&attributes))) {
        found = attributes->typekind == TKIND_INTERFACE || attributes->typekind == TKIND_DISPATCH;
        iid = attributes->guid;
        referenced->ReleaseTypeAttr(attributes);
    }
    referenced->Release();
    return found;
}

// An object argument for an interface parameter: S_OK when Invoke can convert it.
HRESULT CheckObject(const VARIANT& argument, REFIID iid) {
    const VARIANT& value = Dereference(argument);
    const VARTYPE vt = V_VT(&value);
    IUnknown* object = nullptr;
    if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        object = V_UNKNOWN(&value);
    } else if ((vt == (VT_UNKNOWN | VT_BYREF) || vt == (VT_DISPATCH | VT_BYREF)) && V_BYREF(&value)) {
        object = *static_cast<IUnknown**>(V_BYREF(&value));
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    if (!object) return S_OK;
    IUnknown* asked = nullptr;
    const HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(&asked));
    if (SUCCEEDED(hr) && asked) asked->Release();
    return SUCCEEDED(hr) ? S_OK : E_NOINTERFACE;
}

}  // namespace

HRESULT CheckArguments(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS* params, UINT* argument_error) {
    if (!params || !params->rgvarg || params->cArgs == 0) return S_OK;
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) return S_OK;
    const WORD functions = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);
    // The member Invoke picks: the first of that id whose kind the flags allow.
    for (WORD f = 0; f < functions; ++f) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(f, &function))) return S_OK;
        if (function->memid != id || !(function->invkind & flags)) {
            info->ReleaseFuncDesc(function);
            continue;
        }
        UINT takes = 0;
        for (SHORT i = 0; i < function->cParams; ++i)
            takes += (function->lprgelemdescParam[i].paramdesc.wParamFlags & PARAMFLAG_FRETVAL) ? 0 : 1;
        HRESULT hr = S_OK;
        if (function->invkind == INVOKE_PROPERTYGET && params->cArgs > takes) {
            hr = DISP_E_BADPARAMCOUNT;
        } else if (params->cNamedArgs == 0 || params->cArgs == takes) {
            // Arguments come last first: parameter i is rgvarg[cArgs - 1 - i], whatever the count
            // (Invoke converts what it has before it finds one missing or too many).
            const UINT given = params->cArgs < takes ? params->cArgs : takes;
            for (UINT i = 0; i < given && SUCCEEDED(hr); ++i) {
                IID iid;
                if (!DeclaredInterface(info, function->lprgelemdescParam[i].tdesc, iid)) continue;
                const UINT k = params->cArgs - 1 - i;
                hr = CheckObject(params->rgvarg[k], iid);
                if (FAILED(hr) && argument_error) *argument_error = k;
            }
        }
        info->ReleaseFuncDesc(function);
        return hr;
    }
    return S_OK;
}

}  // namespace com
