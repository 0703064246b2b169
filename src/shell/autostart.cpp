#include "shell/autostart.h"

#include "platform/platform.h"

std::string BuildParameterString(int32_t driveNumber, const std::string& logFile) {
    return std::to_string(driveNumber) + " \"" + logFile + "\"";
}

std::string GetSpecialFolderPath(platform::Platform& platform, int folderId) {
    std::string path = platform.SpecialFolderPath(folderId);
    if (path.empty()) return path;
    if (path.back() != platform.PathSeparator()) path += platform.PathSeparator();
    return path;
}

std::string LogFileInFolder(const std::string& folder, char separator) {
    std::string path = folder;
    if (path.empty() || path.back() != separator) path += separator;
    return path + LogFileName;
}

namespace {

// The name without its extension ("app.exe" -> "app", "scandor" -> "scandor").
std::string StemOf(const std::string& executable, char separator) {
    size_t slash = executable.find_last_of(separator);
    std::string name = slash == std::string::npos ? executable : executable.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

}  // namespace

std::string FreeShortcutPath(platform::Platform& platform, const std::string& folder,
                             const std::string& executable) {
    const std::string stem = folder + StemOf(executable, platform.PathSeparator());
    std::string path = stem + ShortcutExtension;
    // Bounded, so a folder that reports every name as taken cannot hang the window.
    for (int counter = 1; platform.FileExists(path) && counter < 100000; ++counter)
        path = stem + std::to_string(counter) + ShortcutExtension;
    return path;
}

std::string InstallAutostartEntry(platform::Platform& platform, const std::string& arguments) {
    const char sep = platform.PathSeparator();
    platform::ShortcutSpec desc;
    desc.target = platform.ExecutablePath();
    desc.arguments = arguments;
    size_t slash = desc.target.find_last_of(sep);
    desc.workingDirectory = slash == std::string::npos ? std::string() : desc.target.substr(0, slash + 1);
    desc.iconPath = desc.target;
    desc.iconIndex = 0;
    std::string path = FreeShortcutPath(platform, GetSpecialFolderPath(platform, platform::CSIDL_STARTUP),
                                        desc.target);
    platform.SaveShortcut(path, desc);
    return path;
}
