// Helpers of the Windows backend tests: a scratch folder, image files and child
// processes with their output.
#pragma once

#include "platform/win32/windows_api.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace wintest {

// Image bytes that tell every sector apart: byte i of the file is a function of i.
inline std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 512 * 7 + 3) & 0xFF);
    return bytes;
}

inline void Write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string Read(const std::filesystem::path& path) {
    std::string bytes;
    if (std::FILE* f = _wfopen(path.c_str(), L"rb")) {
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
        std::fclose(f);
    }
    return bytes;
}

struct Process {
    DWORD code = 0xFFFFFFFF;
    std::string out, err;
};

// Runs a command line with stdout and stderr into files and waits at most
// timeoutMs; a child that overruns is ended and its code is 0xFFFFFFFF.
inline Process Run(const std::wstring& commandLine, const std::filesystem::path& folder, DWORD timeoutMs = 60000) {
    Process p;
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    const auto outPath = folder / "child.out";
    const auto errPath = folder / "child.err";
    HANDLE out = ::CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = ::CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    HANDLE in = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    std::wstring cmd = commandLine;
    if (::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        if (::WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) ::TerminateProcess(pi.hProcess, 0xFFFFFFFF);
        ::WaitForSingleObject(pi.hProcess, INFINITE);
        ::GetExitCodeProcess(pi.hProcess, &p.code);
        ::CloseHandle(pi.hThread);
        ::CloseHandle(pi.hProcess);
    }
    ::CloseHandle(in);
    ::CloseHandle(out);
    ::CloseHandle(err);
    p.out = Read(outPath);
    p.err = Read(errPath);
    return p;
}

inline std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

// Lines without their CR LF or LF.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

}  // namespace wintest
