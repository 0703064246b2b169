// A folder of the fuzz process's own under $TMPDIR (else /tmp), removed when the
// process ends normally; libFuzzer leaves it behind when it stops on a finding.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_check.h"

inline const std::string& ScratchDir() {
    // Never destroyed: the exit handler that removes the folder still needs the name.
    static const std::string& dir = *[] {
        const char* tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/scandor-fuzz-XXXXXX";
        const char* made = ::mkdtemp(tmpl.data());
        FUZZ_CHECK(made != nullptr);
        return new std::string(made);
    }();
    static const bool removeAtExit = [] {
        std::atexit([] { std::filesystem::remove_all(ScratchDir()); });
        return true;
    }();
    (void)removeAtExit;
    return dir;
}

inline void WriteScratchFile(const std::string& name, std::string_view bytes) {
    std::ofstream out(ScratchDir() + "/" + name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    FUZZ_CHECK(out.good());
}
