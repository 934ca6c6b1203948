// The Language property: one value for every control of the process (not persisted).
#pragma once

#include <cstdint>

namespace ombrix {

// The Language property's value; messages stay English whatever it is.
int32_t Language();
void SetLanguage(int32_t language);

}  // namespace ombrix
