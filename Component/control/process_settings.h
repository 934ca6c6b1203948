// Settings shared by every control and blob of the process (not persisted, not per object).
#pragma once

#include <cstdint>

namespace ombrix {

// The code page of every blob text conversion; 65001 (UTF-8) until changed.
int32_t TextCodePage();
void SetTextCodePage(int32_t code_page);

// The Language property's value; messages stay English whatever it is.
int32_t Language();
void SetLanguage(int32_t language);

}  // namespace ombrix
