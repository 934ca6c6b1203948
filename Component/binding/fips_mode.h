// The process-wide FIPS mode flag: true while an external FIPS-capable library is bound.
#pragma once

namespace ombrix {

bool FipsMode();

}  // namespace ombrix
