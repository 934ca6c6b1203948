// The classes the module serves, in registration and class-object lookup order.
#include "com/module.h"
#include "blobs/MemBlob.h"
#include "blobs/Blob.h"
#include "blobs/Blob64.h"
#include "blobs/StreamBlob.h"
#include "blobs/FileBlob.h"
#include "control/Ombrix.h"

namespace com {

std::span<const ClassEntry> ObjectMap() {
    static const ClassEntry map[] = {
        {&CLSID_Blob, 104, &ComObject<ombrix::CBlob>::Create},
        {&CLSID_Blob64, 204, &ComObject<ombrix::CBlob64>::Create},
        {&CLSID_Ombrix, 102, &ComObject<ombrix::COmbrix>::Create},
        {&CLSID_MemBlob, 106, &ComObject<ombrix::CMemBlob>::Create},
        {&CLSID_FileBlob, 108, &ComObject<ombrix::CFileBlob>::Create},
        {&CLSID_StreamBlob, 110, &ComObject<ombrix::CStreamBlob>::Create},
    };
    return map;
}

}  // namespace com
