#include "platform/linux/scanrecordfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform::linuxbe {

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Opens the folder itself, never a link in its place; creates it when missing.
int OpenFolder(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        // The state folder too, as the settings hive makes it.
        if (const auto slash = dir.find_last_of('/'); slash != std::string::npos && slash > 0)
            ::mkdir(dir.substr(0, slash).c_str(), 0700);
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return -1;
        fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    return fd;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool IsScanRecordKey(const std::string& key) {
    if (key.empty() || key.size() > 128 || key == "." || key == "..") return false;
    for (char c : key) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

int StoreScanRecordFile(const std::string& dir, const std::string& key, const std::string& json) {
    if (!IsScanRecordKey(key)) return EINVAL;
    if (json.size() > MaxScanRecordBytes) return EFBIG;
    Fd folder(OpenFolder(dir));
    if (folder.get() < 0) return errno == ELOOP ? ENOTDIR : errno;
    // A folder others may write to could have the record swapped under us.
    struct stat st{};
    if (::fstat(folder.get(), &st) != 0) return errno;
    if (st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) return EPERM;

    const std::string name = key + ".json";
    const std::string temp = "." + name + ".tmp";
    // A temporary file left by a crash is ours; unlinkat removes a link, never its target.
    if (::unlinkat(folder.get(), temp.c_str(), 0) != 0 && errno != ENOENT) return errno;
    int error = 0;
    {
        Fd out(::openat(folder.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (out.get() < 0) return errno;
        if (::fchmod(out.get(), 0600) != 0 || !WriteAll(out.get(), json) || ::fsync(out.get()) != 0) error = errno;
    }
    if (!error && ::renameat(folder.get(), temp.c_str(), folder.get(), name.c_str()) != 0) error = errno;
    if (error) {
        ::unlinkat(folder.get(), temp.c_str(), 0);
        return error;
    }
    ::fsync(folder.get());
    return 0;
}

}  // namespace platform::linuxbe
