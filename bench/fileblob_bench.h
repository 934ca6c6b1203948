// Reading and writing a 256 MiB file through the file blob's IBlob::Read and Write in 64 KiB
// requests, against plain ReadFile and WriteFile on the same file in the same run.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <string>

#include "Ombrix_h.h"

namespace bench {

// A new temporary file's name, or an empty string.
std::wstring TemporaryFile(const wchar_t* prefix);
// A file blob on `path`; null when it cannot be opened.
Microsoft::WRL::ComPtr<IBlob> FileBlobOn(const std::wstring& path, bool auto_delete);

// Prints the rows fileblob-write and fileblob-read; false when the file blob read back other
// bytes than were written.
bool MeasureFileBlob();

}  // namespace bench
