#include "shell/autostart.h"

#include <cstdlib>

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

std::vector<std::string> IconDataFolders() {
    std::vector<std::string> folders;
    // Relative entries are to be ignored, as the base directory rules say.
    auto absolute = [](const std::string& s) { return !s.empty() && s.front() == '/'; };
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && absolute(dataHome))
        folders.emplace_back(dataHome);
    else if (home && absolute(home))
        folders.push_back(std::string(home) + "/.local/share");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        std::string folder = list.substr(start, end - start);
        if (absolute(folder)) folders.push_back(std::move(folder));
        start = end + 1;
    }
    return folders;
}

std::string AutostartIcon(platform::Platform& platform, const std::vector<std::string>& dataFolders) {
    const std::string name = ProgramIconName;
    static const char* const kSizes[] = {"256x256", "128x128", "64x64", "48x48", "32x32", "24x24", "22x22", "16x16"};
    for (const std::string& folder : dataFolders) {
        const std::string theme = folder + "/icons/hicolor/";
        if (platform.FileExists(theme + "scalable/apps/" + name + ".svg")) return name;
        for (const char* size : kSizes)
            if (platform.FileExists(theme + size + "/apps/" + name + ".png")) return name;
    }
    const std::string executable = platform.ExecutablePath();
    const size_t slash = executable.find_last_of(platform.PathSeparator());
    if (slash != std::string::npos && executable.front() == '/') {
        const std::string file = executable.substr(0, slash) + "/icons/hicolor/256x256/apps/" + name + ".png";
        if (platform.FileExists(file)) return file;
    }
    return name;
}

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
    desc.iconPath = AutostartIcon(platform, IconDataFolders());
    desc.iconIndex = 0;
    std::string path = FreeShortcutPath(platform, GetSpecialFolderPath(platform, platform::CSIDL_STARTUP),
                                        desc.target);
    platform.SaveShortcut(path, desc);
    return path;
}
