// The real Windows machine: the Win32 calls the seam is named after.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace platform::win32 {

// UTF-8 <-> UTF-16, the program's texts and the wide Windows calls.
std::wstring Wide(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
std::string Narrow(const wchar_t* wide, size_t length);

// One read queued on a completion port.
struct PendingRead;

struct OpenFile {
    void* handle = nullptr;     // HANDLE, opened overlapped and unbuffered
    std::string path;           // as the program asked for it
    bool device = false;        // \\.\PhysicalDriveN or \\.\A:, not an image file
    uint32_t sectorSize = 512;  // the unit of unbuffered reads
    int64_t position = 0;       // byte offset for the next ReadFile
    void* event = nullptr;      // for reads that wait in place
    void* port = nullptr;       // the completion port, once bound
    uint32_t inFlight = 0;
    std::deque<ReadCompletion> settled;  // reads that finished without a packet
};

class Win32Platform final : public Platform {
public:
    // registryRoot: the key under HKEY_LOCAL_MACHINE that stands for it (tests
    // use a key of their own); empty for HKEY_LOCAL_MACHINE itself.
    explicit Win32Platform(std::string registryRoot = {});
    ~Win32Platform() override;
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

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
    uint64_t ReadClockUs() override;
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
    void SocketsCleanup() override;
    bool GetHostName(std::string& name) override;
    std::optional<std::vector<std::string>> ResolveIpv4(const std::string& host) override;

    Registry& GetRegistry() override;
    WmiQueryResult WmiExecQuery(const std::string& nameSpace, const std::string& wql) override;

    std::string SpecialFolderPath(int csidl) override;
    bool FileExists(const std::string& path) override;
    bool SaveShortcut(const std::string& linkPath, const ShortcutSpec& desc) override;
    std::string ExecutablePath() override;
    char PathSeparator() override { return '\\'; }

private:
    OpenFile* Find(Handle h);
    bool Fail(uint32_t error);
    bool Size(OpenFile& f, int64_t& size);
    // One positional read through the handle's event; false with lastError_.
    bool ReadAt(OpenFile& f, void* buffer, uint32_t size, int64_t offset, uint32_t& got);
    // The disk queries an image file cannot answer itself.
    bool FileControl(OpenFile& f, uint32_t code, void* out, uint32_t outSize, uint32_t* bytesReturned);
    bool IdentityControl(OpenFile& f, void* out, uint32_t outSize, uint32_t* bytesReturned);
    bool ScsiPassThrough(OpenFile& f, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                         uint32_t* bytesReturned);
    void Drain(OpenFile& f);
    bool Gone(OpenFile& f);

    std::map<Handle, OpenFile> handles_;
    Handle nextHandle_ = 1;
    uint32_t lastError_ = 0;
    std::string registryRoot_;
    std::unique_ptr<Registry> registry_;
    int socketsStarted_ = 0;
};

// The registry view every build uses: a 32-bit program's settings, so 32- and
// 64-bit builds read the same stored values.
std::unique_ptr<Registry> CreateRegistry(std::string root);

}  // namespace platform::win32
