#include "drive/usersystem.h"

#include "platform/platform.h"

bool TUserSystem::IsVolumeReadable(const std::string& rootPath) {
    try {
        std::string volumeName, fileSystemName;
        volumeName.reserve(256);
        fileSystemName.reserve(256);
        return platform_.GetVolumeInformation(rootPath, &volumeName, &fileSystemName);
    } catch (...) {
        return false;
    }
}
