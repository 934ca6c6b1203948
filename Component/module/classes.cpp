// The classes Ombrix.dll serves, in registration and class-object lookup order, and its type library.
#include "module/classes.h"

#include "blobs/FileBlob.h"
#include "blobs/MemBlob.h"
#include "blobs/NullBlobs.h"
#include "blobs/StreamBlob.h"
#include "control/Ombrix.h"

namespace ombrix {
namespace {

using com::ComObject;

constexpr com::ClassEntry kClasses[] = {
    {&CLSID_Blob, 104, &ComObject<CBlob>::Create},
    {&CLSID_Blob64, 204, &ComObject<CBlob64>::Create},
    {&CLSID_Ombrix, 102, &ComObject<COmbrix>::Create},
    {&CLSID_MemBlob, 106, &ComObject<CMemBlob>::Create},
    {&CLSID_FileBlob, 108, &ComObject<CFileBlob>::Create},
    {&CLSID_StreamBlob, 110, &ComObject<CStreamBlob>::Create},
};

}  // namespace

const com::ModuleDescription kOmbrixModule{kClasses, &LIBID_OMBRIXLib, 1, 0};

}  // namespace ombrix
