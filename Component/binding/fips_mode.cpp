#include "binding/fips_mode.h"

namespace ombrix {
namespace {
// Written only by the library binding; read everywhere else.
int g_fips_mode = 0;
}  // namespace

bool FipsMode() { return g_fips_mode != 0; }

}  // namespace ombrix
