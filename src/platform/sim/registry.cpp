// The simulated machine's HKEY_LOCAL_MACHINE: the hive file the manifest names.
#include <nlohmann/json.hpp>

#include "platform/hive.h"
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
    if (!registry_) {
        const Json& m = *manifest_;
        if (m.contains("registry") && m["registry"].is_string())
            registry_ = std::make_unique<hive::FileRegistry>(Resolve(m["registry"].get<std::string>()));
        else
            registry_ = std::make_unique<NoRegistry>();
    }
    return *registry_;
}

}  // namespace platform::sim
