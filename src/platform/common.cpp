#include <cstdlib>
#include <stdexcept>

#include "platform/linux/linux_platform.h"
#include "platform/sim/sim_platform.h"

namespace platform {

const WmiProperty* WmiObject::Find(const std::string& name) const {
    for (const auto& p : properties)
        if (p.name == name) return &p;
    return nullptr;
}

std::unique_ptr<Platform> CreatePlatformFromEnvironment() {
    const char* manifest = std::getenv("SCANDOR_MACHINE");
    if (manifest && *manifest) return sim::SimPlatform::FromManifestFile(manifest);
    return std::make_unique<linuxbe::LinuxPlatform>();
}

}  // namespace platform
