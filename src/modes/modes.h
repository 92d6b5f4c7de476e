// The three jobs. Each runs to its end and gives the run's exit status; the
// caller ends the process with it.
#pragma once

#include <string_view>

#include "console/console.h"
#include "registry/registry_service.h"

namespace tandor {

// Expands the tags of `control_string` (^d ^p ^n ^i ^r) and writes the whole
// result at the end, without a newline of its own.
int ExpandControlString(std::string_view control_string, Console& console,
                        RegistryService& registry);

// Copies standard input to standard output, every occurrence of
// `search_string` replaced; 0 if anything was replaced, else 1.
int FilterStream(std::string_view search_string, std::string_view replace_string,
                 InputStream& input, OutputStream& output);

// Rewrites the registry string value `regkey` in place.
int RewriteRegistryValue(std::string_view regkey, std::string_view search_string,
                         std::string_view replace_string, OutputStream& output,
                         RegistryService& registry);

}  // namespace tandor
