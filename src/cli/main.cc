#include <memory>

#include "cli/dispatch.h"
#include "console/console.h"
#include "registry/registry_service.h"

int main(int argc, char** argv) {
  // Nothing the tool does should fail this way; if it does (memory
  // exhausted where no operation expects it), the caller gets a plain
  // failure status, not an abort with a library's message.
  try {
    std::unique_ptr<tandor::Console> console = tandor::CreateConsole(argc, argv);
    std::unique_ptr<tandor::RegistryService> registry = tandor::CreateRegistryService();
    int status = tandor::Dispatch(*console, *registry);
    console->Output().Flush();
    return status;
  } catch (...) {
    return 1;
  }
}
