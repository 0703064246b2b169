// The real machine: block devices, SG_IO, sysfs/libudev, a .reg-file hive.
#pragma once

#include <map>
#include <memory>

#include "platform/linux/overlapped.h"
#include "platform/platform.h"

namespace platform::linuxbe {

// One open handle. A drive path maps to a device node (or an image file).
struct OpenFile {
    int fd = -1;
    std::string path;       // the path the program asked for (\\.\PhysicalDrive0, ...)
    std::string node;       // what was opened (/dev/sda, an image file, ...)
    bool direct = false;    // opened with O_DIRECT
    bool blockDevice = false;
    uint32_t sectorSize = 512;  // logical block size: the unit of unbuffered reads
    int64_t position = 0;   // byte offset for the next ReadFile
    std::shared_ptr<OverlappedReads> overlapped;  // once bound to overlapped reads
    int64_t sizeAtOpen = 0; // reads that find no data below this mean the device went
};

class LinuxPlatform final : public Platform {
public:
    // hivePath: the file standing in for HKEY_LOCAL_MACHINE (tests use their own).
    explicit LinuxPlatform(std::string hivePath = DefaultHivePath);
    static constexpr const char* DefaultHivePath = "/var/lib/kaveno-scandor/HKLM.reg";
    ~LinuxPlatform() override;

    Handle CreateFile(const std::string& path, uint32_t access, uint32_t share,
                      uint32_t creation, uint32_t flags) override;
    bool DeviceIoControl(Handle h, uint32_t code, const void* in, uint32_t inSize, void* out,
                         uint32_t outSize, uint32_t* bytesReturned) override;
    uint32_t SetFilePointer(Handle h, int32_t low, int32_t* high, uint32_t method) override;
    bool ReadFile(Handle h, void* buffer, uint32_t size, uint32_t* bytesRead) override;
    bool CloseHandle(Handle h) override;
    bool BindIoCompletion(Handle h, uint32_t depth) override;
    std::string IoCompletionKind(Handle h) override;
    bool ReadFileOverlapped(Handle h, void* buffer, uint32_t size, int64_t offset, uint64_t key) override;
    bool GetQueuedCompletionStatus(Handle h, ReadCompletion& out) override;
    bool CancelIo(Handle h) override;
    uint64_t ReadClockUs() override { return MonotonicUs(); }
    uint32_t GetLastError() override { return lastError_; }
    std::string SystemErrorText(uint32_t code) override;

    uint32_t GetLogicalDrives() override;
    bool GetVolumeInformation(const std::string& rootPath, std::string* volumeName,
                              std::string* fileSystemName) override;
    uint32_t GetTickCount() override;
    uint32_t PlatformId() override { return VER_PLATFORM_WIN32_NT; }
    bool GetComputerName(std::string& name) override;
    bool GetUserName(std::string& name) override;

    bool SocketsStartup() override { return true; }
    void SocketsCleanup() override {}
    bool GetHostName(std::string& name) override;
    std::optional<std::vector<std::string>> ResolveIpv4(const std::string& host) override;

    Registry& GetRegistry() override;
    WmiQueryResult WmiExecQuery(const std::string& nameSpace, const std::string& wql) override;

    bool SaveScanRecord(const std::string& key, const std::string& json) override;
    std::vector<std::string> LoadScanRecords() override;

    std::string SpecialFolderPath(int csidl) override;
    bool FileExists(const std::string& path) override;
    bool SaveShortcut(const std::string& linkPath, const ShortcutSpec& desc) override;
    std::string ExecutablePath() override;
    char PathSeparator() override { return '/'; }

    void SetLastError(uint32_t code) { lastError_ = code; }
    // How handles bound later read overlapped (tests pin the thread pool).
    void SetOverlappedMode(OverlappedMode mode) { overlappedMode_ = mode; }
    // The descriptor behind a handle (-1 if none), so tests can check how it was opened.
    int DescriptorOf(Handle h) const;
    // Where scan records are kept (tests use their own folder).
    void SetScanRecordFolder(std::string dir) { scanRecordFolder_ = std::move(dir); }
    // A handle for a read-only descriptor of a disk opened elsewhere (passed by the
    // helper), read like one this backend opened; path and node as CreateFile keeps
    // them. Takes the descriptor, also on failure (then InvalidHandle).
    Handle AdoptDescriptor(int fd, const std::string& path, const std::string& node);

private:
    OpenFile* Find(Handle h);
    // Measures an opened file and gives it a handle.
    Handle Register(OpenFile f);
    // device.cpp: the disk queries (partition info, geometry, layout).
    bool DiskControl(OpenFile& f, uint32_t code, void* out, uint32_t outSize,
                     uint32_t* bytesReturned);
    // smart.cpp: SMART and SCSI pass-through over SG_IO.
    bool SmartControl(OpenFile& f, uint32_t code, const void* in, uint32_t inSize, void* out,
                      uint32_t outSize, uint32_t* bytesReturned);
    // nvme.cpp: the NVMe protocol query through libnvme.
    bool NvmeControl(OpenFile& f, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                     uint32_t* bytesReturned);

    std::map<Handle, OpenFile> handles_;
    Handle nextHandle_ = 1;
    uint32_t lastError_ = 0;
    OverlappedMode overlappedMode_ = OverlappedMode::Auto;
    std::unique_ptr<Registry> registry_;
    std::string hivePath_;
    std::string scanRecordFolder_ = "/var/lib/kaveno-scandor/scans";
};

}  // namespace platform::linuxbe
