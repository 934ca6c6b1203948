// The classes Ombrix.dll serves, in registration and class-object lookup order, and its type library.
#include "module/classes.h"

#include "blobs/Blob.h"
#include "blobs/Blob64.h"
#include "blobs/FileBlob.h"
#include "blobs/MemBlob.h"
#include "blobs/StreamBlob.h"
#include "control/Ombrix.h"

namespace ombrix {
namespace {

using com::ComObject;

// Registry script templates (Ombrix.rc).
constexpr UINT kControlScript = 102;
constexpr UINT kBlobScript = 103;

constexpr com::ClassEntry kClasses[] = {
    {&CLSID_Blob, L"Kestrane.Blob.2", L"Blob Class", kBlobScript, &ComObject<CBlob>::Create},
    {&CLSID_Blob64, L"Kestrane.Blob64.2", L"Blob64 Class", kBlobScript, &ComObject<CBlob64>::Create},
    {&CLSID_Ombrix, COmbrix::kProgId, L"Ombrix Class", kControlScript, &ComObject<COmbrix>::Create},
    {&CLSID_MemBlob, CMemBlob::kProgId, L"MemBlob Class", kBlobScript, &ComObject<CMemBlob>::Create},
    {&CLSID_FileBlob, CFileBlob::kProgId, L"FileBlob Class", kBlobScript, &ComObject<CFileBlob>::Create},
    {&CLSID_StreamBlob, CStreamBlob::kProgId, L"StreamBlob Class", kBlobScript, &ComObject<CStreamBlob>::Create},
};

}  // namespace

const com::ModuleDescription kOmbrixModule{kClasses, &LIBID_OMBRIXLib, 1, 0};

}  // namespace ombrix
