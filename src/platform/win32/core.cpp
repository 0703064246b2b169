// Machine facts, error texts, names, sockets and the Startup folder.
#include "platform/win32/windows_api.h"
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

#include "platform/win32/win32_platform.h"

namespace platform::win32 {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Narrow(const wchar_t* wide, size_t length) {
    if (!wide || length == 0) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

std::string Narrow(const std::wstring& wide) { return Narrow(wide.data(), wide.size()); }

Win32Platform::Win32Platform(std::string registryRoot) : registryRoot_(std::move(registryRoot)) {}

Win32Platform::~Win32Platform() {
    while (!handles_.empty()) CloseHandle(handles_.begin()->first);
    while (socketsStarted_ > 0) SocketsCleanup();
}

bool Win32Platform::Fail(uint32_t error) {
    lastError_ = error;
    return false;
}

std::string Win32Platform::SystemErrorText(uint32_t code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string out = n ? Narrow(text, n) : "Unknown error " + std::to_string(code);
    if (text) ::LocalFree(text);
    return out;
}

uint64_t Win32Platform::ReadClockUs() {
    LARGE_INTEGER frequency{}, now{};
    if (!::QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 || !::QueryPerformanceCounter(&now))
        return static_cast<uint64_t>(::GetTickCount()) * 1000u;
    const auto ticks = static_cast<uint64_t>(now.QuadPart);
    const auto hz = static_cast<uint64_t>(frequency.QuadPart);
    return ticks / hz * 1000000u + ticks % hz * 1000000u / hz;
}

uint32_t Win32Platform::GetTickCount() { return ::GetTickCount(); }

uint32_t Win32Platform::GetLogicalDrives() { return ::GetLogicalDrives(); }

bool Win32Platform::GetVolumeInformation(const std::string& rootPath, std::string* volumeName,
                                         std::string* fileSystemName) {
    wchar_t volume[MAX_PATH + 1] = {};
    wchar_t fileSystem[MAX_PATH + 1] = {};
    // An empty floppy drive must not bring up the system's "insert a disk" box.
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const BOOL ok = ::GetVolumeInformationW(Wide(rootPath).c_str(), volume, MAX_PATH + 1, nullptr, nullptr,
                                            nullptr, fileSystem, MAX_PATH + 1);
    const DWORD error = ::GetLastError();
    ::SetErrorMode(oldMode);
    if (!ok) return Fail(error);
    if (volumeName) *volumeName = Narrow(volume);
    if (fileSystemName) *fileSystemName = Narrow(fileSystem);
    lastError_ = 0;
    return true;
}

uint32_t Win32Platform::PlatformId() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExW(&info)) return VER_PLATFORM_WIN32_NT;
#pragma GCC diagnostic pop
    return info.dwPlatformId;
}

bool Win32Platform::GetComputerName(std::string& name) {
    wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(buffer, &size)) return Fail(::GetLastError());
    name = Narrow(buffer, size);
    return true;
}

bool Win32Platform::GetUserName(std::string& name) {
    wchar_t buffer[257] = {};  // UNLEN + 1
    DWORD size = 257;
    if (!::GetUserNameW(buffer, &size)) return Fail(::GetLastError());
    name = Narrow(buffer, size > 0 ? size - 1 : 0);  // the count includes the NUL
    return true;
}

bool Win32Platform::SocketsStartup() {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    ++socketsStarted_;
    return true;
}

void Win32Platform::SocketsCleanup() {
    if (socketsStarted_ <= 0) return;
    --socketsStarted_;
    ::WSACleanup();
}

bool Win32Platform::GetHostName(std::string& name) {
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return false;
    name = buffer;
    return true;
}

std::optional<std::vector<std::string>> Win32Platform::ResolveIpv4(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return std::nullopt;
    std::vector<std::string> out;
    for (addrinfo* p = res; p; p = p->ai_next) {
        char text[INET_ADDRSTRLEN] = {};
        sockaddr_in sin{};
        std::memcpy(&sin, p->ai_addr, std::min<size_t>(sizeof sin, p->ai_addrlen));
        if (::inet_ntop(AF_INET, &sin.sin_addr, text, sizeof text)) {
            const std::string s = text;
            bool seen = false;
            for (const auto& o : out) seen = seen || o == s;
            if (!seen) out.push_back(s);
        }
    }
    ::freeaddrinfo(res);
    if (out.empty()) return std::nullopt;
    return out;
}

std::string Win32Platform::SpecialFolderPath(int csidl) {
    wchar_t path[MAX_PATH + 1] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return {};
    std::wstring p = path;
    while (p.size() > 3 && (p.back() == L'\\' || p.back() == L'/')) p.pop_back();
    return Narrow(p);
}

bool Win32Platform::FileExists(const std::string& path) {
    return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Win32Platform::ExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return Narrow(buffer.data(), n);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

namespace {

// COM for the calling thread, for as long as one call needs it.
class ComScope {
public:
    ComScope() : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_)) ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    // A thread already in the other apartment model can still make the calls.
    bool Usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};

template <typename T>
void Release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

}  // namespace

bool Win32Platform::SaveShortcut(const std::string& linkPath, const ShortcutSpec& desc) {
    ComScope com;
    if (!com.Usable()) return Fail(static_cast<uint32_t>(com.Result()));
    IShellLinkW* link = nullptr;
    HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(&link));
    IPersistFile* file = nullptr;
    if (SUCCEEDED(hr)) hr = link->SetPath(Wide(desc.target).c_str());
    if (SUCCEEDED(hr)) hr = link->SetArguments(Wide(desc.arguments).c_str());
    if (SUCCEEDED(hr)) hr = link->SetWorkingDirectory(Wide(desc.workingDirectory).c_str());
    if (SUCCEEDED(hr) && !desc.iconPath.empty())
        hr = link->SetIconLocation(Wide(desc.iconPath).c_str(), desc.iconIndex);
    if (SUCCEEDED(hr)) hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(hr)) hr = file->Save(Wide(linkPath).c_str(), TRUE);
    Release(file);
    Release(link);
    if (FAILED(hr)) return Fail(HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : static_cast<uint32_t>(hr));
    lastError_ = 0;
    return true;
}

}  // namespace platform::win32
