// The one seam between the program and the operating system. The operations
// carry the meaning of the Windows calls the program was designed against; each
// backend (linux/, sim/) answers them with that meaning.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/records.h"

namespace platform {

using Handle = std::intptr_t;
constexpr Handle InvalidHandle = -1;

// CreateFile arguments.
constexpr uint32_t GENERIC_READ = 0x80000000u;
constexpr uint32_t GENERIC_WRITE = 0x40000000u;
constexpr uint32_t FILE_SHARE_READ = 0x1;
constexpr uint32_t FILE_SHARE_WRITE = 0x2;
constexpr uint32_t CREATE_NEW = 1;
constexpr uint32_t OPEN_EXISTING = 3;

// SetFilePointer.
constexpr uint32_t FILE_BEGIN = 0;
constexpr uint32_t INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

// Platform identifiers (dwPlatformId).
constexpr uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr uint32_t VER_PLATFORM_WIN32_NT = 2;

// Shell special folder.
constexpr int CSIDL_STARTUP = 7;

// Registry value types.
constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_DWORD = 4;

struct RegValue {
    uint32_t type = REG_NONE;
    std::string text;             // REG_SZ, UTF-8
    uint32_t dword = 0;           // REG_DWORD
    std::vector<uint8_t> raw;     // any other type, kept as stored
};

// An open key. Failures come back as false; nothing throws.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;
    // False when the value is missing or the key cannot be read.
    virtual bool ReadValue(const std::string& name, RegValue& out) = 0;
    virtual bool WriteValue(const std::string& name, const RegValue& value) = 0;
    // Every value of the key in one reading, in stored order (a name stored twice
    // comes twice; the later one counts). False when the key cannot be read or
    // the backend cannot list values; then single reads remain.
    virtual bool ReadValues(std::vector<std::pair<std::string, RegValue>>& out) {
        out.clear();
        return false;
    }
};

// HKEY_LOCAL_MACHINE. Paths are relative to it, with backslashes
// ("SOFTWARE\\KAVENO_Scandor").
class Registry {
public:
    virtual ~Registry() = default;
    virtual bool KeyExists(const std::string& path) = 0;
    // nullptr when the key is missing (and create is false) or cannot be opened.
    virtual std::unique_ptr<RegistryKey> OpenKey(const std::string& path, bool create) = 0;
    // Why the last call that touched the store failed, for the user; empty after
    // a success, and when a key or value is merely missing.
    virtual std::string LastFailure() const { return {}; }
};

// CIM types of WMI properties.
enum CimType : int32_t {
    CIM_SINT8 = 16, CIM_UINT8 = 17, CIM_SINT16 = 2, CIM_UINT16 = 18, CIM_SINT32 = 3,
    CIM_UINT32 = 19, CIM_SINT64 = 20, CIM_UINT64 = 21, CIM_REAL32 = 4, CIM_REAL64 = 5,
    CIM_BOOLEAN = 11, CIM_STRING = 8, CIM_DATETIME = 101, CIM_REFERENCE = 102,
    CIM_CHAR16 = 103, CIM_OBJECT = 13,
};

struct WmiValue {
    enum Kind { Null, Int, UInt, Real, Bool, Text, Object } kind = Null;
    bool isArray = false;
    std::vector<int64_t> ints;        // Int, and Bool (0/1)
    std::vector<uint64_t> uints;      // UInt
    std::vector<double> reals;        // Real
    std::vector<std::string> texts;   // Text (UTF-8)
};

struct WmiProperty {
    std::string name;
    int32_t cimType = CIM_STRING;
    WmiValue value;
};

struct WmiObject {
    std::vector<WmiProperty> properties;
    // nullptr when the object has no such property.
    const WmiProperty* Find(const std::string& name) const;
};

struct WmiQueryResult {
    bool ok = false;              // false: connection or query failed
    std::string error;
    std::vector<WmiObject> objects;
};

// One finished overlapped read (the completion packet of a ReadFile with an
// OVERLAPPED structure).
struct ReadCompletion {
    uint64_t key = 0;          // the key the read was queued with
    uint32_t bytes = 0;        // bytes transferred
    uint32_t error = 0;        // 0, or the system error; a cancelled read carries its own code
    uint64_t completedUs = 0;  // ReadClockUs when the backend saw the device answer
};

struct ShortcutSpec {
    std::string target;
    std::string arguments;
    std::string workingDirectory;
    std::string iconPath;
    int iconIndex = 0;
};

class Platform {
public:
    virtual ~Platform() = default;

    // --- device I/O ---------------------------------------------------------
    // Drive paths are opened for reading only, whatever access is asked for.
    virtual Handle CreateFile(const std::string& path, uint32_t access, uint32_t share,
                              uint32_t creation, uint32_t flags) = 0;
    virtual bool DeviceIoControl(Handle h, uint32_t code, const void* in, uint32_t inSize,
                                 void* out, uint32_t outSize, uint32_t* bytesReturned) = 0;
    // Moves to the 64-bit offset (high:low) from FILE_BEGIN. Returns the low half
    // of the new position, INVALID_SET_FILE_POINTER with a last error on failure.
    virtual uint32_t SetFilePointer(Handle h, int32_t low, int32_t* high, uint32_t method) = 0;
    // All or nothing except at the end of the device, like a raw-disk read.
    virtual bool ReadFile(Handle h, void* buffer, uint32_t size, uint32_t* bytesRead) = 0;
    virtual bool CloseHandle(Handle h) = 0;

    // --- overlapped reads ---------------------------------------------------
    // ReadFile with an OVERLAPPED structure on a handle bound to a completion
    // port: reads are queued with an offset and a key and finish in any order.
    // Prepares the handle for up to depth reads in flight. False: the handle
    // reads one block at a time with ReadFile. A backend without it says so.
    virtual bool BindIoCompletion(Handle, uint32_t /*depth*/) { return false; }
    // How the bound handle reads ("io_uring", "pread threads", ...), for the log.
    virtual std::string IoCompletionKind(Handle) { return {}; }
    // Queues one read; buffer must be aligned to 4096 bytes and stay until the
    // read completes. False, with a last error, when it cannot be queued.
    virtual bool ReadFileOverlapped(Handle, void* /*buffer*/, uint32_t /*size*/, int64_t /*offset*/,
                                    uint64_t /*key*/) {
        return false;
    }
    // Waits for the next read to finish, in completion order. False when the
    // handle has none in flight. A completion with fewer bytes than asked and no
    // error is not settled: the caller reads that range with ReadFile.
    virtual bool GetQueuedCompletionStatus(Handle, ReadCompletion&) { return false; }
    // Asks the handle's reads in flight to stop where the system allows; every
    // one still completes, a cancelled one with an error.
    virtual bool CancelIo(Handle) { return false; }
    // Microseconds of a monotonic clock, the one completions are stamped with.
    virtual uint64_t ReadClockUs() { return static_cast<uint64_t>(GetTickCount()) * 1000u; }
    virtual uint32_t GetLastError() = 0;
    // The system's text for an error code (FormatMessage), untrimmed.
    virtual std::string SystemErrorText(uint32_t code) = 0;

    // --- machine facts ------------------------------------------------------
    virtual uint32_t GetLogicalDrives() = 0;
    // GetVolumeInformation: true when the root holds a readable volume.
    virtual bool GetVolumeInformation(const std::string& rootPath, std::string* volumeName,
                                      std::string* fileSystemName) = 0;
    // Milliseconds, wrapping at 32 bits.
    virtual uint32_t GetTickCount() = 0;
    virtual uint32_t PlatformId() = 0;
    virtual bool GetComputerName(std::string& name) = 0;
    virtual bool GetUserName(std::string& name) = 0;

    // --- sockets (name resolution for the local address) -------------------
    virtual bool SocketsStartup() = 0;
    virtual void SocketsCleanup() = 0;
    virtual bool GetHostName(std::string& name) = 0;
    // IPv4 addresses of a host name in resolver order; nullopt when it does not resolve.
    virtual std::optional<std::vector<std::string>> ResolveIpv4(const std::string& host) = 0;

    // --- registry, WMI ------------------------------------------------------
    virtual Registry& GetRegistry() = 0;
    virtual WmiQueryResult WmiExecQuery(const std::string& nameSpace, const std::string& wql) = 0;

    // --- scan records ---------------------------------------------------------
    // Keeps one surface scan's result record (a small JSON text) in the program's
    // state folder, replacing the one stored under the same key (a drive identity,
    // [A-Za-z0-9._-], 1 to 128 characters). False, with a last error, when it
    // cannot be stored; a backend without a state folder stores nothing.
    virtual bool SaveScanRecord(const std::string& /*key*/, const std::string& /*json*/) {
        return false;
    }
    // The text of every stored record; empty when there are none or none can be read.
    virtual std::vector<std::string> LoadScanRecords() { return {}; }

    // --- access to the drives ----------------------------------------------
    // Makes the drives reachable, asking for the right to read them where the
    // backend needs it (once a run; later calls repeat the first answer). Empty
    // when they can be reached, else why not, in words for the user.
    virtual std::string ObtainDriveAccess() { return {}; }

    // --- shell --------------------------------------------------------------
    // The folder's path without a trailing separator; empty when unknown.
    virtual std::string SpecialFolderPath(int csidl) = 0;
    virtual bool FileExists(const std::string& path) = 0;
    virtual bool SaveShortcut(const std::string& linkPath, const ShortcutSpec& desc) = 0;
    virtual std::string ExecutablePath() = 0;
    virtual char PathSeparator() = 0;
};

// The machine the program runs on: the simulated one named by SCANDOR_MACHINE,
// else the real one. Throws std::runtime_error when the manifest cannot be loaded.
std::unique_ptr<Platform> CreatePlatformFromEnvironment();

}  // namespace platform
