// What Ombrix.dll hands the COM framework: its classes and its type library.
#pragma once

#include "com/module.h"

namespace ombrix {

extern const com::ModuleDescription kOmbrixModule;

}  // namespace ombrix
