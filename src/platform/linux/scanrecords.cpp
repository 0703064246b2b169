#include "platform/linux/scanrecords.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "platform/linux/linux_platform.h"

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
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

bool Fail(int e) {
    errno = e;
    return false;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<size_t>(w);
    }
    return true;
}

std::string RandomSuffix() {
    static const char chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device rd;
    std::string s;
    for (int i = 0; i < 8; ++i) s += chars[rd() % (sizeof chars - 1)];
    return s;
}

// The folder, made when missing (one level), never through a link.
int OpenFolder(const std::string& dir, bool create) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(dir.c_str(), flags);
    if (fd < 0 && errno == ENOENT && create) {
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return -1;
        fd = ::open(dir.c_str(), flags);
    }
    return fd;
}

}  // namespace

bool ValidScanRecordKey(const std::string& key) {
    if (key.empty() || key.size() > 128 || key == "." || key == "..") return false;
    return std::all_of(key.begin(), key.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
               c == '_' || c == '-';
    });
}

bool StoreFileAtomically(const std::string& dir, const std::string& name, const std::string& text, mode_t mode) {
    Fd folder(OpenFolder(dir, false));
    if (folder.get() < 0) return false;
    std::string temp;
    Fd out;
    for (int tries = 0; tries < 16 && out.get() < 0; ++tries) {
        temp = "." + name + "." + RandomSuffix();
        out.reset(::openat(folder.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (out.get() < 0 && errno != EEXIST) return false;
    }
    if (out.get() < 0) return false;
    bool ok = ::fchmod(out.get(), mode) == 0 && WriteAll(out.get(), text) && ::fsync(out.get()) == 0;
    int e = errno;
    ok = ::close(out.release()) == 0 && ok;
    if (ok && ::renameat(folder.get(), temp.c_str(), folder.get(), name.c_str()) == 0) {
        ::fsync(folder.get());
        return true;
    }
    if (ok) e = errno;
    ::unlinkat(folder.get(), temp.c_str(), 0);
    return Fail(e);
}

bool StoreScanRecordFile(const std::string& dir, const std::string& key, const std::string& json) {
    if (!ValidScanRecordKey(key)) return Fail(EINVAL);
    if (json.size() > MaxScanRecordBytes) return Fail(EFBIG);
    // The state folder's parent too, on a machine where nothing was saved yet.
    const size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        const std::string parent = dir.substr(0, slash);
        struct stat st{};
        if (::stat(parent.c_str(), &st) != 0 && errno == ENOENT && ::mkdir(parent.c_str(), 0700) != 0 &&
            errno != EEXIST)
            return false;
    }
    {
        Fd folder(OpenFolder(dir, true));
        if (folder.get() < 0) return false;
        struct stat st{};
        if (::fstat(folder.get(), &st) != 0) return false;
        // Root writes only into a folder no one else can rename things in.
        if (::geteuid() == 0 && (st.st_uid != 0 || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)) return Fail(EPERM);
    }
    return StoreFileAtomically(dir, key + ".json", json, 0600);
}

std::vector<std::string> LoadScanRecordFiles(const std::string& dir) {
    std::vector<std::string> out;
    Fd folder(OpenFolder(dir, false));
    if (folder.get() < 0) return out;
    const int listFd = ::dup(folder.get());
    if (listFd < 0) return out;
    DIR* d = ::fdopendir(listFd);
    if (!d) {
        ::close(listFd);
        return out;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n.size() > 5 && n.compare(n.size() - 5, 5, ".json") == 0 && ValidScanRecordKey(n.substr(0, n.size() - 5)))
            names.push_back(n);
        if (names.size() > MaxScanRecords * 4) break;
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
        if (out.size() == MaxScanRecords) break;
        // O_NONBLOCK: a FIFO planted under a record's name does not hang the reader.
        Fd fd(::openat(folder.get(), n.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd.get() < 0) continue;
        struct stat st{};
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > static_cast<off_t>(MaxScanRecordBytes))
            continue;
        std::string text;
        char buf[8192];
        bool ok = true;
        for (;;) {
            const ssize_t r = ::read(fd.get(), buf, sizeof buf);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) {
                ok = false;
                break;
            }
            if (r == 0) break;
            text.append(buf, static_cast<size_t>(r));
            // It grew while being read.
            if (text.size() > MaxScanRecordBytes) {
                ok = false;
                break;
            }
        }
        if (ok) out.push_back(std::move(text));
    }
    return out;
}

bool LinuxPlatform::SaveScanRecord(const std::string& key, const std::string& json) {
    if (StoreScanRecordFile(scanRecordFolder_, key, json)) return true;
    lastError_ = static_cast<uint32_t>(errno);
    return false;
}

std::vector<std::string> LinuxPlatform::LoadScanRecords() { return LoadScanRecordFiles(scanRecordFolder_); }

}  // namespace platform::linuxbe
