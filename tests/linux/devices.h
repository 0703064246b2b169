// Real devices for the Linux backend tests: temporary folders, image files, loop
// devices and the FUSE file with bad ranges. Everything is torn down on every path.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace devtest {

namespace fs = std::filesystem;

// Runs a shell command; returns its exit status and stdout.
inline int Shell(const std::string& cmd, std::string* out = nullptr) {
    FILE* p = ::popen((cmd + (out ? "" : " >/dev/null") + " 2>/dev/null").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int status = ::pclose(p);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool HaveTool(const std::string& name) { return Shell("command -v " + name) == 0; }

// Why loop devices cannot be used here, or empty when they can.
inline std::string LoopUnavailable() {
    if (::geteuid() != 0) return "needs root for loop devices";
    if (::access("/dev/loop-control", F_OK) != 0) return "no /dev/loop-control";
    if (!HaveTool("losetup")) return "losetup is not installed";
    return {};
}

#define REQUIRE_LOOP()                                                      \
    do {                                                                    \
        std::string why_ = devtest::LoopUnavailable();                      \
        if (!why_.empty()) GTEST_SKIP() << why_;                            \
    } while (0)

// A loop device that could not be attached means the machine has none to give.
#define REQUIRE_ATTACHED(loop)                                              \
    do {                                                                    \
        if (!(loop).ok()) GTEST_SKIP() << "losetup could not attach a loop device"; \
    } while (0)

#define REQUIRE_TOOL(name)                                                  \
    do {                                                                    \
        if (!devtest::HaveTool(name)) GTEST_SKIP() << name " is not installed"; \
    } while (0)

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/scandor-dev-XXXXXX";
        if (::mkdtemp(tmpl)) path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A sparse file of the given size.
inline void MakeImage(const std::string& path, int64_t size) {
    std::ofstream(path, std::ios::binary).close();
    fs::resize_file(path, static_cast<uintmax_t>(size));
}

inline void WriteAt(const std::string& path, int64_t offset, const std::vector<uint8_t>& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> Pattern(size_t n, unsigned seed) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return v;
}

// A loop device over a file, detached when it goes.
class LoopDevice {
public:
    explicit LoopDevice(const std::string& file, const std::string& options = "") {
        std::string out;
        if (Shell("losetup -f --show " + options + " '" + file + "'", &out) == 0) {
            while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
            node_ = out;
        }
    }
    ~LoopDevice() {
        if (!node_.empty()) Shell("losetup -d " + node_);
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const std::string& node() const { return node_; }
    bool ok() const { return !node_.empty(); }

private:
    std::string node_;
};

// The FUSE file "disk" of scandor_badfile under a mount point, unmounted and its
// server stopped when it goes.
class BadFile {
public:
    // options: "--slow=offset:length:ms,...", "--log=FILE" (see the helper).
    BadFile(const std::string& mountPoint, int64_t size, const std::string& bad,
            const std::string& shortAt = "-", const std::vector<std::string>& options = {})
        : mount_(mountPoint) {
#ifdef SCANDOR_BADFILE
        fs::create_directories(mount_);
        std::vector<std::string> args = {SCANDOR_BADFILE, std::to_string(size), bad, shortAt, mount_};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execv(SCANDOR_BADFILE, argv.data());
            ::_exit(127);
        }
        for (int i = 0; i < 100 && pid_ > 0; ++i) {
            struct stat st{};
            if (::stat(file().c_str(), &st) == 0 && st.st_size == size) {
                ok_ = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
#else
        (void)size;
        (void)bad;
        (void)shortAt;
        (void)options;
#endif
    }
    ~BadFile() {
        if (pid_ > 0) {
            if (Shell("fusermount3 -u '" + mount_ + "'") != 0) Shell("umount -l '" + mount_ + "'");
            for (int i = 0; i < 40; ++i) {
                if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    BadFile(const BadFile&) = delete;
    BadFile& operator=(const BadFile&) = delete;
    bool ok() const { return ok_; }
    std::string file() const { return mount_ + "/disk"; }
    // The byte the file holds at an offset.
    static uint8_t ByteAt(int64_t o) { return static_cast<uint8_t>((o / 512 * 31 + o % 512) & 0xff); }

private:
    std::string mount_;
    pid_t pid_ = -1;
    bool ok_ = false;
};

inline std::string FuseUnavailable() {
#ifndef SCANDOR_BADFILE
    return "the FUSE helper was not built (libfuse3-dev missing)";
#else
    if (::geteuid() != 0) return "needs root to mount FUSE and attach loop devices";
    if (::access("/dev/fuse", R_OK | W_OK) != 0) return "no usable /dev/fuse";
    if (!HaveTool("fusermount3")) return "fusermount3 is not installed";
    return LoopUnavailable();
#endif
}

}  // namespace devtest
