#include <string>

#include "modes/exit_status.h"
#include "modes/modes.h"
#include "modes/replace_all.h"
#include "registry/registry_text.h"

namespace tandor {

namespace {

constexpr std::string_view kNotFoundMessage =
    "\nSearch string not found.  No registry writes performed.\n\n";
constexpr std::string_view kWriteFailedMessage = "\nERROR: Failed Registry write.\n\n";
constexpr std::string_view kSuccessMessage = "\nSuccessfully modified registry key.\n\n";

int Finish(OutputStream& output, std::string_view message, int status) {
  output.Write(message);
  output.Flush();
  return status;
}

}  // namespace

int RewriteRegistryValue(std::string_view regkey, std::string_view search_string,
                         std::string_view replace_string, OutputStream& output,
                         RegistryService& registry) {
  std::string old_text = ReadRegistryText(registry, regkey);
  if (old_text.empty()) {
    // The path is printed as given: it is data, never a format.
    std::string message = "\nERROR: Registry key not found: ";
    message += regkey;
    message += "\n\n";
    return Finish(output, message, kStatusValueNotFound);
  }
  bool found = false;
  std::string new_text = ReplaceAll(old_text, search_string, replace_string, &found);
  output.Write("\n");
  if (!found) return Finish(output, kNotFoundMessage, kStatusNotDone);
  if (WriteRegistryText(registry, regkey, old_text, new_text) != 0)
    return Finish(output, kWriteFailedMessage, kStatusWriteFailed);
  return Finish(output, kSuccessMessage, kStatusSuccess);
}

}  // namespace tandor
