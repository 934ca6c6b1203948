// The control's debug log: one formatted line appended per call, the file opened and closed
// each time, every file failure ignored.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace ombrix {

// Appends one printf-style line (at most 1024 characters) to the file named by `debug_file`.
// Does nothing when the path or the format is empty.
void DebugLogWrite(BSTR debug_file, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

}  // namespace ombrix
