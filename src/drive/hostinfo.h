// Host facts printed in the reports.
#pragma once

#include <string>

namespace platform { class Platform; }

// The dotted IPv4 address of the local host name: "" when the socket library
// cannot be started, "127.0.0.1" when the name does not resolve, otherwise the
// first address the resolver gives.
std::string GetLocalIpAddress(platform::Platform& platform);

// The computer and user names as a 256-byte buffer holds them (at most 255
// characters); empty when the system cannot tell.
std::string ComputerNameForReport(platform::Platform& platform);
std::string UserNameForReport(platform::Platform& platform);
