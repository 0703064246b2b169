#include "platform/filekind.h"

#include <sys/stat.h>

namespace platform {

std::string FileKindText(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
#ifdef S_ISSOCK
    if (S_ISSOCK(mode)) return "a socket";
#endif
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISREG(mode)) return "a regular file";
    return "a special file";
}

std::string PrintablePath(const std::string& path) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : path) {
        if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace platform
