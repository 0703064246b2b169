#include "platform/invoker.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

namespace platform {
namespace {

// A uid as sudo and pkexec write it: decimal digits only.
std::optional<uid_t> UidFrom(const char* text) {
    if (!text || !*text) return std::nullopt;
    unsigned long long n = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return std::nullopt;
        n = n * 10 + static_cast<unsigned>(*p - '0');
        if (n >= static_cast<uid_t>(-1)) return std::nullopt;
    }
    return static_cast<uid_t>(n);
}

bool Set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// Absolute, without "." or ".." parts and doubled slashes; nullopt otherwise.
std::optional<std::string> Plain(const std::string& path) {
    if (path.empty() || path[0] != '/') return std::nullopt;
    std::string out;
    size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '/') ++i;
        size_t end = path.find('/', i);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(i, end - i);
        if (part == "." || part == "..") return std::nullopt;
        if (!part.empty()) out += "/" + part;
        i = end;
    }
    return out.empty() ? std::string("/") : out;
}

}  // namespace

bool ActingForAnotherUser() { return ::geteuid() == 0 && (Set("SUDO_UID") || Set("PKEXEC_UID")); }

std::optional<InvokingUser> FindInvokingUser() {
    uid_t uid = ::getuid();
    if (::geteuid() == 0) {
        if (auto p = UidFrom(std::getenv("PKEXEC_UID"))) uid = *p;
        else if (auto s = UidFrom(std::getenv("SUDO_UID"))) uid = *s;
    }
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (::getpwuid_r(uid, &entry, buf.data(), buf.size(), &found) != 0 || !found || !found->pw_dir)
        return std::nullopt;
    auto home = Plain(found->pw_dir);
    if (!home) return std::nullopt;
    return InvokingUser{uid, found->pw_gid, *home};
}

std::string AutostartFolderOf(const InvokingUser& user, const char* xdgConfigHome) {
    const std::string inside = user.home == "/" ? "/" : user.home + "/";
    if (xdgConfigHome) {
        auto config = Plain(xdgConfigHome);
        if (config && config->size() > inside.size() && config->compare(0, inside.size(), inside) == 0)
            return *config + "/autostart";
    }
    return inside + ".config/autostart";
}

std::optional<std::string> RootOwnedManifest(const std::string& manifest) {
    char resolved[PATH_MAX];
    if (!::realpath(manifest.c_str(), resolved)) return std::nullopt;
    const std::string path = resolved;
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != 0 ||
        (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return std::nullopt;
    for (size_t slash = path.find_last_of('/'); slash != std::string::npos;
         slash = slash == 0 ? std::string::npos : path.find_last_of('/', slash - 1)) {
        const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
        if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != 0) return std::nullopt;
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) return std::nullopt;
    }
    return path;
}

void ForgetUserCodePaths() {
    if (!ActingForAnotherUser()) return;
    // Qt's plugin and QML paths; GTK, GIO and GdkPixbuf modules reach the
    // process through the GTK platform theme.
    static const char* const kNames[] = {
        "QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH", "QML2_IMPORT_PATH", "QML_IMPORT_PATH",
        "QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "QT_QPA_GENERIC_PLUGINS", "QT_IM_MODULE",
        "QT_XCB_GL_INTEGRATION", "QT_WAYLAND_SHELL_INTEGRATION", "QT_WAYLAND_CLIENT_BUFFER_INTEGRATION",
        "QT_WAYLAND_DECORATION", "QT_DEBUG_PLUGINS", "GTK_PATH", "GTK_MODULES", "GTK3_MODULES",
        "GTK_IM_MODULE", "GTK_IM_MODULE_FILE", "GTK_EXE_PREFIX", "GTK_DATA_PREFIX", "GIO_EXTRA_MODULES",
        "GIO_MODULE_DIR", "GDK_PIXBUF_MODULE_FILE", "GDK_PIXBUF_MODULEDIR", "GST_PLUGIN_PATH",
        "GST_PLUGIN_SYSTEM_PATH", "GTK_THEME", "LD_PRELOAD", "LD_LIBRARY_PATH"};
    for (const char* name : kNames) ::unsetenv(name);
}

}  // namespace platform
