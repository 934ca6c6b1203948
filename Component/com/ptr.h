// Interface pointers: Microsoft::WRL::ComPtr, with a query that answers an empty pointer for an
// interface the object lacks.
//
// Received references go in through GetAddressOf (mingw-w64's ComPtr::Attach adds a reference),
// and identity is compared on the raw pointers (its operator== compares the holders wrongly).
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

namespace com {

template <class Interface>
using Ptr = Microsoft::WRL::ComPtr<Interface>;

// The object's interface `iid` (by default Interface's own), or an empty pointer when the object
// is null or does not offer it.
template <class Interface>
Ptr<Interface> TryQuery(IUnknown* object, REFIID iid = __uuidof(Interface)) {
    Ptr<Interface> result;
    void* raw = nullptr;
    if (object && SUCCEEDED(object->QueryInterface(iid, &raw)) && raw) *result.GetAddressOf() = static_cast<Interface*>(raw);
    return result;
}

// Whether two interface pointers belong to one COM object (their IUnknown is the same).
inline bool SameObject(IUnknown* first, IUnknown* second) {
    const Ptr<IUnknown> a = TryQuery<IUnknown>(first);
    const Ptr<IUnknown> b = TryQuery<IUnknown>(second);
    return a && a.Get() == b.Get();
}

}  // namespace com
