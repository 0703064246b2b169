// HKEY_LOCAL_MACHINE: one hive file for the whole machine. Only root may replace
// it, as only an administrator may open the key with full access on Windows.
#include "platform/hive.h"
#include "platform/linux/linux_platform.h"

namespace platform::linuxbe {

Registry& LinuxPlatform::GetRegistry() {
    if (!registry_) registry_ = std::make_unique<hive::FileRegistry>(hivePath_);
    return *registry_;
}

}  // namespace platform::linuxbe
