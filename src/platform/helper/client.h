// The program's side of the helper: a platform that runs as the user and asks
// scandor-helper, started through pkexec, for what needs root. Drives are opened by
// the helper and read here through the descriptor it passes back; their device
// controls, the settings key and the scan records go through it.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/forwarding.h"
#include "platform/helper/protocol.h"

namespace platform::linuxbe { class LinuxPlatform; }

namespace platform::helper {

// A started helper: our end of its socket and its process (-1 when not a child of
// ours). socket < 0: it could not be reached; failure says why, for the user.
struct Channel {
    int socket = -1;
    pid_t pid = -1;
    std::string failure;
};

// What the user is told when the authentication was refused or cancelled.
extern const char* const AccessRefusedText;

// Starts command (argv[0] an absolute path) with one end of a new socket pair as its
// standard input and output, and waits for its first answer. Exit 126 or 127 before
// answering (pkexec: authentication refused, cancelled or impossible) is
// AccessRefusedText.
Channel SpawnHelper(const std::vector<std::string>& command);

// The helper beside the executable (a build tree), else where the package installs it
// relative to the executable's folder.
std::string HelperProgramPath(const std::string& executable);

class HelperPlatform final : public ForwardingPlatform {
public:
    using Launcher = std::function<Channel()>;
    // The helper is started by launch on the first need, or by ObtainDriveAccess.
    HelperPlatform(std::unique_ptr<linuxbe::LinuxPlatform> local, Launcher launch);
    ~HelperPlatform() override;

    Handle CreateFile(const std::string& path, uint32_t access, uint32_t share, uint32_t creation,
                      uint32_t flags) override;
    bool DeviceIoControl(Handle h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                         uint32_t* bytesReturned) override;
    bool CloseHandle(Handle h) override;
    bool SaveScanRecord(const std::string& key, const std::string& json) override;
    Registry& GetRegistry() override;
    std::string ObtainDriveAccess() override;

    // One exchange with the helper; nullopt when it cannot be reached (failure set).
    std::optional<Reply> Ask(const Request& q, int* fd = nullptr);
    const std::string& Failure() const { return failure_; }

private:
    bool Connect();  // with mutex_ held
    void Fail(uint32_t error);

    std::unique_ptr<linuxbe::LinuxPlatform> local_;
    Launcher launch_;
    std::mutex mutex_;         // one exchange at a time
    std::mutex handlesMutex_;
    bool tried_ = false;
    Channel channel_;
    std::string failure_;
    std::map<Handle, uint32_t> remote_;  // our handle -> the helper's
    std::unique_ptr<Registry> registry_;
};

}  // namespace platform::helper
