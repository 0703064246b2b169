// The simulated machine's HKEY_LOCAL_MACHINE: the hive file the manifest names.
#include <nlohmann/json.hpp>

#ifndef _WIN32
#include "platform/hive.h"
#endif
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
#ifdef _WIN32
            registry_ = std::make_unique<NoRegistry>();  // refused when the manifest was read
#else
            registry_ = std::make_unique<hive::FileRegistry>(Resolve(m["registry"].get<std::string>()));
#endif
        else
            registry_ = std::make_unique<NoRegistry>();
    }
    return *registry_;
}

}  // namespace platform::sim
