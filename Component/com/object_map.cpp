// The classes the module serves, in registration and class-object lookup order.
#include "com/module.h"
#include "blobs/MemBlob.h"
#include "control/Ombrix.h"

namespace com {

std::span<const ClassEntry> ObjectMap() {
    static const ClassEntry map[] = {
        {&CLSID_Ombrix, 102, &ComObject<ombrix::COmbrix>::Create},
        {&CLSID_MemBlob, 106, &ComObject<ombrix::CMemBlob>::Create},
    };
    return map;
}

}  // namespace com
