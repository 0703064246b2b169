// A fresh folder per test, removed afterwards.
#pragma once

#ifdef _WIN32
#include <random>
#else
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace testsupport {

struct TempDir {
    std::filesystem::path path;
    TempDir() {
#ifdef _WIN32
        std::random_device random;
        for (;;) {
            path = std::filesystem::temp_directory_path() / ("scandor-" + std::to_string(random()));
            if (std::filesystem::create_directory(path)) break;
        }
#else
        std::string templ = (std::filesystem::temp_directory_path() / "scandor-XXXXXX").string();
        path = ::mkdtemp(templ.data());
#endif
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace testsupport
