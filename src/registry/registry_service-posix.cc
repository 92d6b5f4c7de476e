#include "registry/registry_service.h"

namespace tandor {

namespace {

// Placeholder until the Wine prefix's registry files are read.
class EmptyRegistry : public RegistryService {
 public:
  bool Open(uint32_t, std::string_view, RegistryAccess, RegistryKey*) override { return false; }
  bool Query(RegistryKey, std::string_view, uint32_t*, char*, uint32_t*) override { return false; }
  bool SetString(RegistryKey, std::string_view, std::string_view) override { return false; }
  void Close(RegistryKey) override {}
};

}  // namespace

std::unique_ptr<RegistryService> CreateRegistryService() {
  return std::make_unique<EmptyRegistry>();
}

}  // namespace tandor
