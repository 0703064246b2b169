// A simulated machine described by a JSON manifest (docs/machine-manifest.md).
// Tests build one per case; the demo runs the window on one.
#pragma once

#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>

#include "platform/platform.h"

namespace platform::sim {

using Json = nlohmann::json;

struct SimDrive {
    std::string path;                   // "\\.\PhysicalDrive0", "\\.\A:"
    std::shared_ptr<const Json> desc;   // the drive's manifest entry
    uint64_t diskSeq = 0;               // never reused, as the kernel's disk sequence
    bool gone = false;                  // removed: opens fail, open handles read nothing
    int64_t opens = 0, reads = 0;
};

struct SimOpenFile {
    size_t drive = 0;       // index into drives
    int64_t position = 0;
    uint32_t access = 0;
};

class SimPlatform final : public Platform {
public:
    // dir: the folder relative paths of the manifest are resolved against.
    SimPlatform(const Json& manifest, std::string dir);
    ~SimPlatform() override;
    static std::unique_ptr<SimPlatform> FromManifestFile(const std::string& path);
    static std::unique_ptr<SimPlatform> FromJsonText(const std::string& text, std::string dir);
    // Deeper manifests are refused; real ones use fewer than ten levels.
    static constexpr int MaxManifestDepth = 64;
    static constexpr long MaxManifestBytes = 64L << 20;

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
    uint64_t ReadClockUs() override { return static_cast<uint64_t>(tick_) * 1000u; }
    uint32_t GetLastError() override { return lastError_; }
    std::string SystemErrorText(uint32_t code) override;

    uint32_t GetLogicalDrives() override;
    bool GetVolumeInformation(const std::string& rootPath, std::string* volumeName,
                              std::string* fileSystemName) override;
    uint32_t GetTickCount() override;
    uint32_t PlatformId() override;
    bool GetComputerName(std::string& name) override;
    bool GetUserName(std::string& name) override;

    bool SocketsStartup() override;
    void SocketsCleanup() override {}
    bool GetHostName(std::string& name) override;
    std::optional<std::vector<std::string>> ResolveIpv4(const std::string& host) override;

    Registry& GetRegistry() override;
    WmiQueryResult WmiExecQuery(const std::string& nameSpace, const std::string& wql) override;

    // Kept in the manifest's "stateFolder"; without one nothing is kept (last error 0).
    bool SaveScanRecord(const std::string& key, const std::string& json) override;
    std::vector<std::string> LoadScanRecords() override;

    std::string SpecialFolderPath(int csidl) override;
    bool FileExists(const std::string& path) override;
    bool SaveShortcut(const std::string& linkPath, const ShortcutSpec& desc) override;
    std::string ExecutablePath() override;
    char PathSeparator() override { return '/'; }

    // --- for tests ----------------------------------------------------------
    const Json& Manifest() const { return *manifest_; }
    // A manifest path resolved against the manifest's folder.
    std::string Resolve(const std::string& relative) const;
    void AdvanceClock(uint32_t ms) { tick_ += ms; }
    size_t OpenHandleCount() const { return handles_.size(); }
    // Every CreateFile call: path and access asked for.
    struct OpenRecord { std::string path; uint32_t access; uint32_t share; uint32_t creation; };
    const std::vector<OpenRecord>& Opens() const { return opens_; }
    // Every DeviceIoControl call: handle's path and control code.
    struct ControlRecord { std::string path; uint32_t code; std::vector<uint8_t> input; };
    const std::vector<ControlRecord>& Controls() const { return controls_; }
    // Byte offsets of every ReadFile call, in order, and of every overlapped read
    // the device served, when it served it.
    const std::vector<int64_t>& Reads() const { return reads_; }

    void SetLastError(uint32_t code) { lastError_ = code; }
    // Overlapped reads cancelled by CancelIo before the device began them.
    size_t CancelledReads() const { return cancelled_; }
    // Overlapped reads queued so far.
    size_t SubmittedReads() const { return submitted_; }
    // Unplugs a drive: its handles fail as a vanished disk's do, and the physical
    // drives numbered above it move down by one, as on a real machine. False when
    // no drive has the path.
    bool RemoveDrive(const std::string& path);

private:
    // overlapped.cpp: a device that serves queued reads one after the other on
    // the virtual clock.
    struct PendingRead {
        ReadCompletion completion;
        uint64_t startUs = 0;
        uint64_t order = 0;
        int64_t offset = 0;
        bool cancelled = false;
    };
    struct ReadQueue {
        uint64_t busyUntilUs = 0;
        uint64_t submitted = 0;
        std::vector<PendingRead> pending;
    };
    uint32_t ServiceMs(const Json& drive, int64_t offset, uint32_t size) const;
    std::map<Handle, ReadQueue> queues_;
    size_t cancelled_ = 0;
    size_t submitted_ = 0;

    SimOpenFile* Find(Handle h);
    void Remove(size_t drive);
    const SimDrive& DriveOf(const SimOpenFile& f) const { return drives_[f.drive]; }
    // device.cpp: the disk queries and reads.
    bool DiskControl(SimOpenFile& f, uint32_t code, void* out, uint32_t outSize,
                     uint32_t* bytesReturned);
    // smart.cpp: SMART and SCSI pass-through.
    bool SmartControl(SimOpenFile& f, uint32_t code, const void* in, uint32_t inSize, void* out,
                      uint32_t outSize, uint32_t* bytesReturned);
    // nvme.cpp: the NVMe protocol query.
    bool NvmeControl(SimOpenFile& f, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                     uint32_t* bytesReturned);

    std::unique_ptr<Json> manifest_;
    std::string dir_;
    std::vector<SimDrive> drives_;
    std::map<Handle, SimOpenFile> handles_;
    Handle nextHandle_ = 100;
    uint32_t lastError_ = 0;
    uint32_t tick_ = 0;
    std::vector<OpenRecord> opens_;
    std::vector<ControlRecord> controls_;
    std::vector<int64_t> reads_;
    std::unique_ptr<Registry> registry_;
};

}  // namespace platform::sim
