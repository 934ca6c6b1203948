// The text code page: one process-wide code page for every blob text conversion, set through the
// control's Encoding property; 65001 (UTF-8) until changed.
#pragma once

#include <cstdint>

namespace ombrix {

int32_t TextCodePage();
void SetTextCodePage(int32_t code_page);

}  // namespace ombrix
