#pragma once

#include "console/console.h"

namespace tandor {

// Writes the usage screen, verbatim; gives its status (1).
int ShowUsage(OutputStream& output);

}  // namespace tandor
