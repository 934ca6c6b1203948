#include "control/debug_log.h"

#include <oleauto.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "base/unique.h"

namespace ombrix {

void DebugLogWrite(BSTR debug_file, const char* format, ...) {
    if (!debug_file || SysStringLen(debug_file) == 0 || !format || !*format) return;

    char line[1025];
    va_list args;
    va_start(args, format);
    const int formatted = vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (formatted <= 0) return;
    const DWORD length = static_cast<DWORD>(formatted < 1024 ? formatted : 1024);

    // The path in the system's ANSI code page, up to its first null character.
    const int path_length = WideCharToMultiByte(CP_ACP, 0, debug_file, -1, nullptr, 0, nullptr, nullptr);
    if (path_length <= 0) return;
    std::vector<char> path(static_cast<size_t>(path_length));
    WideCharToMultiByte(CP_ACP, 0, debug_file, -1, path.data(), path_length, nullptr, nullptr);

    const ombrix::FileHandle file(CreateFileA(path.data(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.Get(), line, length, &written, nullptr);
}

}  // namespace ombrix
