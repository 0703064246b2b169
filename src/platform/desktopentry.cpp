#include "platform/desktopentry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace platform {

namespace {

std::string EscapeString(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else out += c;
    }
    return out;
}

}  // namespace

std::vector<std::string> SplitWindowsArguments(const std::string& s) {
    std::vector<std::string> args;
    size_t i = 0;
    const size_t n = s.size();
    while (true) {
        while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        while (i < n && (quoted || (s[i] != ' ' && s[i] != '\t'))) {
            if (s[i] == '\\') {
                size_t slashes = 0;
                while (i < n && s[i] == '\\') ++slashes, ++i;
                if (i < n && s[i] == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(slashes, '\\');
                }
            } else if (s[i] == '"') {
                if (quoted && i + 1 < n && s[i + 1] == '"') {  // "" inside quotes is a quote
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += s[i++];
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}


std::string QuoteExecArgument(const std::string& a) {
    // Inside quotes, ", `, $ and \ take a backslash; % is doubled as a field
    // code would otherwise be expanded. Then the value is escaped as a string,
    // which doubles every backslash once more.
    std::string quoted = "\"";
    for (char c : a) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    return EscapeString(quoted + '"');
}

std::string DesktopEntryText(const ShortcutSpec& desc) {
    std::string exec = QuoteExecArgument(desc.target);
    for (const auto& a : SplitWindowsArguments(desc.arguments)) exec += " " + QuoteExecArgument(a);
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Version=1.0\n"
                       "Name=KAVENO Scandor\n"
                       "Comment=Checks whether your drives are healthy\n";
    text += "Exec=" + exec + "\n";
    if (!desc.workingDirectory.empty()) text += "Path=" + EscapeString(desc.workingDirectory) + "\n";
    if (!desc.iconPath.empty()) text += "Icon=" + EscapeString(desc.iconPath) + "\n";
    text += "Terminal=false\n"
            "X-GNOME-Autostart-enabled=true\n";
    return text;
}

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
private:
    int fd_;
};

bool Fail(int e) {
    errno = e;
    return false;
}

bool WriteText(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<size_t>(w);
    }
    return true;
}

// Writes the entry as name inside the open folder: a fresh temporary (never an
// existing file or link), then a rename within the folder; giveAway makes it owner's.
bool WriteEntryIn(int dir, const std::string& name, const std::string& text, uid_t owner, gid_t group,
                  bool giveAway) {
    const std::string temp = name + ".tmp";
    int fd = ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EEXIST) {
        // A dead writer's leftover, or something planted: only the name goes.
        if (::unlinkat(dir, temp.c_str(), 0) != 0) return false;
        fd = ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    }
    if (fd < 0) return false;
    bool ok = (!giveAway || ::fchown(fd, owner, group) == 0) && ::fchmod(fd, 0644) == 0 && WriteText(fd, text) &&
              ::fsync(fd) == 0;
    int e = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::renameat(dir, temp.c_str(), dir, name.c_str()) == 0) {
        ::fsync(dir);
        return true;
    }
    if (ok) e = errno;
    ::unlinkat(dir, temp.c_str(), 0);
    return Fail(e);
}

}  // namespace

bool SaveDesktopEntry(const std::string& path, const ShortcutSpec& desc) {
    // A fresh account has no autostart folder yet.
    std::error_code ec;
    auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    const std::string folder = parent.empty() ? std::string(".") : parent.string();
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return false;
    return WriteEntryIn(dir.get(), std::filesystem::path(path).filename().string(), DesktopEntryText(desc), 0,
                        0, false);
}

bool SaveDesktopEntryFor(const InvokingUser& user, const std::string& path, const ShortcutSpec& desc) {
    const std::string home = user.home == "/" ? std::string() : user.home;
    if (home.empty() && user.home != "/") return Fail(EACCES);
    if (path.size() <= home.size() + 1 || path.compare(0, home.size(), home) != 0 || path[home.size()] != '/')
        return Fail(EACCES);
    std::vector<std::string> parts;
    for (size_t i = home.size() + 1; i <= path.size();) {
        size_t end = path.find('/', i);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(i, end - i);
        if (part.empty() || part == "." || part == "..") return Fail(EACCES);
        parts.push_back(std::move(part));
        i = end + 1;
    }
    const bool asRoot = ::geteuid() == 0;
    auto trusted = [&](int fd) {
        struct stat st{};
        if (::fstat(fd, &st) != 0) return false;
        return st.st_uid == user.uid || st.st_uid == 0 || Fail(EACCES);
    };
    // The home itself is the administrator's choice, so it may be reached through links.
    Fd dir(::open(user.home.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 || !trusted(dir.get())) return false;
    for (size_t k = 0; k + 1 < parts.size(); ++k) {
        const char* part = parts[k].c_str();
        const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = ::openat(dir.get(), part, flags);
        bool made = false;
        if (next < 0 && errno == ENOENT) {
            if (::mkdirat(dir.get(), part, 0700) == 0) made = true;
            else if (errno != EEXIST) return false;
            next = ::openat(dir.get(), part, flags);
        }
        if (next < 0) return false;
        dir.reset(next);
        // Made by root for the user: theirs, or they could add no entry of their own.
        if (made && asRoot && ::fchown(dir.get(), user.uid, user.gid) != 0) return false;
        if (!trusted(dir.get())) return false;
    }
    return WriteEntryIn(dir.get(), parts.back(), DesktopEntryText(desc), user.uid, user.gid, asRoot);
}

}  // namespace platform
