#include <cstdlib>
#include <stdexcept>

#include "platform/sim/sim_platform.h"
#ifdef _WIN32
#include "platform/win32/win32_platform.h"
#else
#include <unistd.h>

#include "platform/helper/client.h"
#include "platform/invoker.h"
#include "platform/linux/linux_platform.h"
#endif

namespace platform {

const WmiProperty* WmiObject::Find(const std::string& name) const {
    for (const auto& p : properties)
        if (p.name == name) return &p;
    return nullptr;
}

std::unique_ptr<Platform> CreatePlatformFromEnvironment() {
    const char* manifest = std::getenv("SCANDOR_MACHINE");
#ifdef _WIN32
    // No sudo on Windows: the program runs as the user who started it.
    if (manifest && *manifest) return sim::SimPlatform::FromManifestFile(manifest);
    return std::make_unique<win32::Win32Platform>();
#else
    if (manifest && *manifest) {
        if (!ActingForAnotherUser()) return sim::SimPlatform::FromManifestFile(manifest);
        // sudo -E keeps the variable: a manifest the user wrote would name the
        // files root creates (its hive, its startup folder).
        auto trusted = RootOwnedManifest(manifest);
        if (!trusted)
            throw std::runtime_error(
                "SCANDOR_MACHINE names a simulated machine that root does not own. A simulated "
                "machine needs no rights: run the program without sudo.");
        return sim::SimPlatform::FromManifestFile(*trusted);
    }
    auto local = std::make_unique<linuxbe::LinuxPlatform>();
    if (::geteuid() == 0) return local;
    // As the user: what needs root is asked of the helper, through pkexec, which
    // runs only the path the installed policy names (or asks for an administrator).
    const std::string helperPath = helper::HelperProgramPath(local->ExecutablePath());
    return std::make_unique<helper::HelperPlatform>(std::move(local), [helperPath] {
        return helper::SpawnHelper({"/usr/bin/pkexec", helperPath});
    });
#endif
}

}  // namespace platform
