// A platform that hands every operation to another one; a base for platforms that
// change only a few of them.
#pragma once

#include "platform/platform.h"

namespace platform {

class ForwardingPlatform : public Platform {
public:
    explicit ForwardingPlatform(Platform& inner) : inner_(inner) {}

    Handle CreateFile(const std::string& path, uint32_t access, uint32_t share, uint32_t creation,
                      uint32_t flags) override {
        return inner_.CreateFile(path, access, share, creation, flags);
    }
    bool DeviceIoControl(Handle h, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                         uint32_t* bytesReturned) override {
        return inner_.DeviceIoControl(h, code, in, inSize, out, outSize, bytesReturned);
    }
    uint32_t SetFilePointer(Handle h, int32_t low, int32_t* high, uint32_t method) override {
        return inner_.SetFilePointer(h, low, high, method);
    }
    bool ReadFile(Handle h, void* buffer, uint32_t size, uint32_t* bytesRead) override {
        return inner_.ReadFile(h, buffer, size, bytesRead);
    }
    bool CloseHandle(Handle h) override { return inner_.CloseHandle(h); }
    bool BindIoCompletion(Handle h, uint32_t depth) override { return inner_.BindIoCompletion(h, depth); }
    std::string IoCompletionKind(Handle h) override { return inner_.IoCompletionKind(h); }
    bool ReadFileOverlapped(Handle h, void* buffer, uint32_t size, int64_t offset, uint64_t key) override {
        return inner_.ReadFileOverlapped(h, buffer, size, offset, key);
    }
    bool GetQueuedCompletionStatus(Handle h, ReadCompletion& c) override {
        return inner_.GetQueuedCompletionStatus(h, c);
    }
    bool CancelIo(Handle h) override { return inner_.CancelIo(h); }
    uint64_t ReadClockUs() override { return inner_.ReadClockUs(); }
    bool SaveScanRecord(const std::string& key, const std::string& json) override {
        return inner_.SaveScanRecord(key, json);
    }
    std::vector<std::string> LoadScanRecords() override { return inner_.LoadScanRecords(); }
    std::string ObtainDriveAccess() override { return inner_.ObtainDriveAccess(); }
    uint32_t GetLastError() override { return inner_.GetLastError(); }
    std::string SystemErrorText(uint32_t code) override { return inner_.SystemErrorText(code); }

    uint32_t GetLogicalDrives() override { return inner_.GetLogicalDrives(); }
    bool GetVolumeInformation(const std::string& rootPath, std::string* volumeName,
                              std::string* fileSystemName) override {
        return inner_.GetVolumeInformation(rootPath, volumeName, fileSystemName);
    }
    uint32_t GetTickCount() override { return inner_.GetTickCount(); }
    uint32_t PlatformId() override { return inner_.PlatformId(); }
    bool GetComputerName(std::string& name) override { return inner_.GetComputerName(name); }
    bool GetUserName(std::string& name) override { return inner_.GetUserName(name); }

    bool SocketsStartup() override { return inner_.SocketsStartup(); }
    void SocketsCleanup() override { inner_.SocketsCleanup(); }
    bool GetHostName(std::string& name) override { return inner_.GetHostName(name); }
    std::optional<std::vector<std::string>> ResolveIpv4(const std::string& host) override {
        return inner_.ResolveIpv4(host);
    }

    Registry& GetRegistry() override { return inner_.GetRegistry(); }
    WmiQueryResult WmiExecQuery(const std::string& nameSpace, const std::string& wql) override {
        return inner_.WmiExecQuery(nameSpace, wql);
    }

    std::string SpecialFolderPath(int csidl) override { return inner_.SpecialFolderPath(csidl); }
    bool FileExists(const std::string& path) override { return inner_.FileExists(path); }
    bool SaveShortcut(const std::string& linkPath, const ShortcutSpec& desc) override {
        return inner_.SaveShortcut(linkPath, desc);
    }
    std::string ExecutablePath() override { return inner_.ExecutablePath(); }
    char PathSeparator() override { return inner_.PathSeparator(); }

protected:
    Platform& inner_;
};

}  // namespace platform
