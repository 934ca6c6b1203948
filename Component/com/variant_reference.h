// Arguments as script hosts pass them. VBScript passes a variable, or a Sub's parameter, as
// VT_VARIANT|VT_BYREF pointing at the caller's VARIANT (in method calls and property puts
// alike), while a literal arrives by value; a compiled client may nest such references.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace com {

// References followed before a value is taken as missing: deeper than any script host nests.
inline constexpr int kMaxReferenceDepth = 16;

// The VARIANT a value stands for, VT_VARIANT|VT_BYREF references followed. A reference with a
// null pointer, or a chain deeper than kMaxReferenceDepth, reads as VT_EMPTY. The result may
// point into the caller's variable: copy it (VariantCopyInd) to keep it.
const VARIANT& Dereference(const VARIANT& value);

// Invoke's arguments with every variable that holds an array handed on as a reference to that
// array (VT_ARRAY|type|VT_BYREF): the type library's Invoke accepts a referenced variable for
// plain parameters but refuses it for array parameters. Other arguments are left as they are.
// The rewritten arguments point into the caller's variables and live as long as this object.
class DispatchArguments {
public:
    explicit DispatchArguments(DISPPARAMS* params);
    DispatchArguments(const DispatchArguments&) = delete;
    DispatchArguments& operator=(const DispatchArguments&) = delete;

    DISPPARAMS* Get() { return params_; }

private:
    static constexpr UINT kMaxRewritten = 16;
    DISPPARAMS* params_;
    DISPPARAMS rewritten_{};
    VARIANTARG arguments_[kMaxRewritten];
};

// What the type library's Invoke would refuse only after it took references, refused before:
// S_OK when the call may go on. Wine's Invoke keeps the interface it asked an object argument
// for when a later argument then fails to convert, and it hands the arguments a property get does
// not take to the default member of the object the get returned, calling through a null one.
// The answers are those Invoke gives: DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH for a value that
// is not an object where an interface is declared, E_NOINTERFACE for an object without it.
HRESULT CheckArguments(ITypeInfo* info, DISPID id, WORD flags, const DISPPARAMS* params, UINT* argument_error);

}  // namespace com
