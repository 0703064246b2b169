// The simulated machine's HKEY_LOCAL_MACHINE.
#include "platform/sim/sim_platform.h"

namespace platform::sim {
namespace {

class NoRegistry final : public Registry {
public:
    bool KeyExists(const std::string&) override { return false; }
    std::unique_ptr<RegistryKey> OpenKey(const std::string&, bool) override { return nullptr; }
};

}  // namespace

Registry& SimPlatform::GetRegistry() {
    if (!registry_) registry_ = std::make_unique<NoRegistry>();
    return *registry_;
}

}  // namespace platform::sim
