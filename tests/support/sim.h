// Simulated machines for tests, written inline as JSON.
#pragma once

#include <memory>
#include <string>

#include "platform/sim/sim_platform.h"

namespace testsupport {

// dir: where relative paths of the manifest point (a test's temporary folder).
inline std::unique_ptr<platform::sim::SimPlatform> Machine(const std::string& json,
                                                           const std::string& dir = ".") {
    return platform::sim::SimPlatform::FromJsonText(json, dir);
}

}  // namespace testsupport
