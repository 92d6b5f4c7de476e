#include <memory>

#include "cli/dispatch.h"
#include "console/console.h"
#include "registry/registry_service.h"

int main(int argc, char** argv) {
  std::unique_ptr<tandor::Console> console = tandor::CreateConsole(argc, argv);
  std::unique_ptr<tandor::RegistryService> registry = tandor::CreateRegistryService();
  int status = tandor::Dispatch(*console, *registry);
  console->Output().Flush();
  return status;
}
