#pragma once

#include "console/console.h"
#include "registry/registry_service.h"

namespace tandor {

// Hands the run to one mode by the shape of the command line, or shows the
// usage screen. Gives the exit status the process ends with.
int Dispatch(Console& console, RegistryService& registry);

}  // namespace tandor
