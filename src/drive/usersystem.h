// Facts about the machine the program runs on.
#pragma once

#include <string>

namespace platform { class Platform; }

class TUserSystem {
public:
    explicit TUserSystem(platform::Platform& platform) : platform_(platform) {}
    // True when the root ("A:\\") holds a readable volume.
    bool IsVolumeReadable(const std::string& rootPath);

private:
    platform::Platform& platform_;
};
