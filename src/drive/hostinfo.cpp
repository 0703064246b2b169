#include "drive/hostinfo.h"

#include "platform/platform.h"

namespace {
constexpr size_t HostNameBuffer = 101;   // gethostname's length, terminator included
constexpr size_t NameBuffer = 256;       // GetComputerNameA/GetUserNameA, terminator included

std::string Clip(std::string s, size_t buffer) {
    if (s.size() > buffer - 1) s.resize(buffer - 1);
    return s;
}
}  // namespace

std::string GetLocalIpAddress(platform::Platform& platform) {
    std::string result;
    if (!platform.SocketsStartup()) return result;
    std::string name;
    if (!platform.GetHostName(name)) name.clear();
    name = Clip(name, HostNameBuffer);
    auto addresses = platform.ResolveIpv4(name);
    if (!addresses || addresses->empty())
        result = "127.0.0.1";
    else
        result = addresses->front();
    platform.SocketsCleanup();
    return result;
}

std::string ComputerNameForReport(platform::Platform& platform) {
    std::string name;
    if (!platform.GetComputerName(name)) return {};
    return Clip(name, NameBuffer);
}

std::string UserNameForReport(platform::Platform& platform) {
    std::string name;
    if (!platform.GetUserName(name)) return {};
    return Clip(name, NameBuffer);
}
