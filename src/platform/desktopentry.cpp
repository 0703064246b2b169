#include "platform/desktopentry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

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

bool SaveDesktopEntry(const std::string& path, const ShortcutSpec& desc) {
    const std::string text = DesktopEntryText(desc);
    // A fresh account has no autostart folder yet.
    std::error_code ec;
    auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    const std::string temp = path + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            errno = e;
            return false;
        }
        done += static_cast<size_t>(w);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || std::rename(temp.c_str(), path.c_str()) != 0) {
        int e = errno;
        ::unlink(temp.c_str());
        errno = e;
        return false;
    }
    return true;
}

}  // namespace platform
