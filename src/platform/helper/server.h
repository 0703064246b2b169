// What the privileged helper does with one request: the allow-lists and the calls
// on the real machine. Kept apart from the socket loop so it is tested on a
// simulated machine.
#pragma once

#include <map>

#include "platform/helper/protocol.h"
#include "platform/platform.h"

namespace platform::helper {

// The program's own settings key and the read-only resume subkey below it.
inline constexpr const char* SettingsKey = "SOFTWARE\\KAVENO_Scandor";
inline constexpr const char* ResumeKey = "SOFTWARE\\KAVENO_Scandor\\nameofHdd";

// True for \\.\PhysicalDriveN (N < 1000) and \\.\A: / \\.\B:, exactly.
bool IsDrivePath(const std::string& path);
// The device controls the program sends: disk queries, drive identity, SMART, SCSI
// pass-through, the NVMe protocol query.
bool IsAllowedControl(uint32_t code);
// The six values the program stores.
bool IsSettingsValue(const std::string& name);

class Server {
public:
    // descriptorOf gives the descriptor behind a handle of `machine` (-1 if none).
    using DescriptorOf = int (*)(Platform& machine, Handle h);
    // recordDir: the folder scan records are stored in (empty: none are stored).
    Server(Platform& machine, DescriptorOf descriptorOf, std::string recordDir = {});
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Answers one request. For an Open that succeeded, *passFd is the descriptor to
    // send with the reply (owned by the server; valid until the handle is closed).
    Reply Answer(const Request& request, int* passFd);

private:
    Platform& machine_;
    DescriptorOf descriptorOf_;
    std::string recordDir_;
    std::map<uint32_t, platform::Handle> handles_;
    uint32_t nextHandle_ = 1;
};

// Answers the requests that arrive on socket until the peer hangs up or sends a
// frame that cannot be delimited.
void Serve(int socket, Server& server);

}  // namespace platform::helper
