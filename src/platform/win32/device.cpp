// Drive handles, unbuffered reads, the disk queries and overlapped reads.
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"
#include <winioctl.h>
#include <ntddscsi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/errors.h"
#include "platform/records.h"
#include "platform/win32/win32_platform.h"

namespace platform::win32 {

// The seam's records are the SDK's, byte for byte, except SCSI_PASS_THROUGH,
// whose DataBufferOffset is pointer-sized on 64-bit Windows.
static_assert(sizeof(::PARTITION_INFORMATION) == sizeof(platform::PARTITION_INFORMATION));
static_assert(offsetof(::PARTITION_INFORMATION, PartitionType) == offsetof(platform::PARTITION_INFORMATION, PartitionType));
static_assert(sizeof(::DISK_GEOMETRY) == sizeof(platform::DISK_GEOMETRY));
static_assert(offsetof(::DRIVE_LAYOUT_INFORMATION, PartitionEntry) ==
              offsetof(platform::DRIVE_LAYOUT_INFORMATION, PartitionEntry));
static_assert(sizeof(::IDEREGS) == sizeof(platform::IDEREGS));
static_assert(sizeof(::GETVERSIONINPARAMS) == sizeof(platform::GETVERSIONOUTPARAMS));
static_assert(sizeof(::SENDCMDINPARAMS) == sizeof(platform::SENDCMDINPARAMS));
static_assert(sizeof(::DRIVERSTATUS) == sizeof(platform::DRIVERSTATUS));
static_assert(offsetof(::SENDCMDOUTPARAMS, bBuffer) == sizeof(platform::SENDCMDOUTPARAMS_HEAD));
static_assert(sizeof(::STORAGE_PROTOCOL_SPECIFIC_DATA) == sizeof(platform::STORAGE_PROTOCOL_SPECIFIC_DATA));
static_assert(offsetof(::STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) ==
              offsetof(platform::STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData));
static_assert(offsetof(::STORAGE_PROPERTY_QUERY, AdditionalParameters) ==
              offsetof(platform::STORAGE_PROPERTY_QUERY, AdditionalParameters));
#ifdef _WIN64
static_assert(sizeof(::SCSI_PASS_THROUGH) == 56);
static_assert(offsetof(::SCSI_PASS_THROUGH, DataBufferOffset) == 24 && sizeof(::ULONG_PTR) == 8);
static_assert(offsetof(::SCSI_PASS_THROUGH, Cdb) == 36);
#else
static_assert(sizeof(::SCSI_PASS_THROUGH) == sizeof(platform::SCSI_PASS_THROUGH));
static_assert(offsetof(::SCSI_PASS_THROUGH, DataBufferOffset) == offsetof(platform::SCSI_PASS_THROUGH, DataBufferOffset));
static_assert(offsetof(::SCSI_PASS_THROUGH, Cdb) == offsetof(platform::SCSI_PASS_THROUGH, Cdb));
#endif
static_assert(seam::PartitionInfo == IOCTL_DISK_GET_PARTITION_INFO);
static_assert(seam::DriveGeometry == IOCTL_DISK_GET_DRIVE_GEOMETRY);
static_assert(seam::DriveLayout == IOCTL_DISK_GET_DRIVE_LAYOUT);
static_assert(seam::SmartVersion == SMART_GET_VERSION);
static_assert(seam::SmartSend == SMART_SEND_DRIVE_COMMAND);
static_assert(seam::SmartReceive == SMART_RCV_DRIVE_DATA);
static_assert(seam::ScsiPassThrough == IOCTL_SCSI_PASS_THROUGH);
static_assert(seam::QueryProperty == IOCTL_STORAGE_QUERY_PROPERTY);
static_assert(seam::OpenExisting == OPEN_EXISTING && seam::FileBegin == FILE_BEGIN &&
              seam::InvalidSetFilePointer == INVALID_SET_FILE_POINTER);

namespace {

constexpr size_t MemoryAlignment = 4096;

HANDLE H(void* p) { return static_cast<HANDLE>(p); }

bool IsDevicePath(const std::string& path) { return path.rfind("\\\\.\\", 0) == 0; }

struct AlignedDeleter {
    void operator()(uint8_t* p) const { AlignedFree(p); }
};

// FNV-1a: the serial number folded into the identity's sequence field.
uint64_t Fold(const std::string& text) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return h;
}

}  // namespace

// A read that waits for its packet on the handle's completion port; the packet
// names its OVERLAPPED, the first member.
struct PendingRead {
    OVERLAPPED ov{};
    uint64_t key = 0;
    uint32_t size = 0;
};

OpenFile* Win32Platform::Find(Handle h) {
    auto it = handles_.find(h);
    return it == handles_.end() ? nullptr : &it->second;
}

// Every drive and image is opened here, and only for reading: the access asked
// for is not consulted, so no path through this layer hands out a writable handle.
Handle Win32Platform::CreateFile(const std::string& path, uint32_t, uint32_t, uint32_t creation, uint32_t) {
    if (creation != OPEN_EXISTING) {
        Fail(ERROR_INVALID_PARAMETER);
        return InvalidHandle;
    }
    // Unbuffered, so a read reaches the medium and a cached copy cannot hide a bad
    // sector; overlapped, so every read names its offset.
    const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING, nullptr);
    const DWORD error = ::GetLastError();
    ::SetErrorMode(oldMode);
    if (h == INVALID_HANDLE_VALUE) {
        Fail(error);
        return InvalidHandle;
    }
    OpenFile f;
    f.handle = h;
    f.path = path;
    f.device = IsDevicePath(path);
    if (!f.device) {
        // A pipe, a console or a directory is not an image file.
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            ::CloseHandle(h);
            Fail(ERROR_BAD_DEVICE);
            return InvalidHandle;
        }
    } else {
        DISK_GEOMETRY g{};
        DWORD n = 0;
        OVERLAPPED ov{};
        ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (ov.hEvent && (::DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof g, &n, &ov) ||
                          (::GetLastError() == ERROR_IO_PENDING && ::GetOverlappedResult(h, &ov, &n, TRUE))) &&
            n >= sizeof g && g.BytesPerSector >= 512)
            f.sectorSize = g.BytesPerSector;
        if (ov.hEvent) ::CloseHandle(ov.hEvent);
    }
    f.event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!f.event) {
        const DWORD e = ::GetLastError();
        ::CloseHandle(h);
        Fail(e);
        return InvalidHandle;
    }
    const Handle handle = nextHandle_++;
    handles_.emplace(handle, std::move(f));
    lastError_ = 0;
    return handle;
}

bool Win32Platform::CloseHandle(Handle h) {
    auto it = handles_.find(h);
    if (it == handles_.end()) return Fail(ERROR_INVALID_HANDLE);
    OpenFile& f = it->second;
    if (f.inFlight) {
        // Buffers stay the caller's until every read has come back.
        ::CancelIoEx(H(f.handle), nullptr);
        Drain(f);
    }
    if (f.port) ::CloseHandle(H(f.port));
    if (f.event) ::CloseHandle(H(f.event));
    ::CloseHandle(H(f.handle));
    handles_.erase(it);
    return true;
}

bool Win32Platform::Size(OpenFile& f, int64_t& size) {
    if (!f.device) {
        LARGE_INTEGER s{};
        if (!::GetFileSizeEx(H(f.handle), &s)) return Fail(::GetLastError());
        size = s.QuadPart;
        return true;
    }
    GET_LENGTH_INFORMATION info{};
    DWORD n = 0;
    OVERLAPPED ov{};
    ov.hEvent = H(f.event);
    ::ResetEvent(H(f.event));
    if (!::DeviceIoControl(H(f.handle), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &info, sizeof info, &n, &ov) &&
        (::GetLastError() != ERROR_IO_PENDING || !::GetOverlappedResult(H(f.handle), &ov, &n, TRUE)))
        return Fail(::GetLastError());
    size = info.Length.QuadPart;
    return true;
}

uint32_t Win32Platform::SetFilePointer(Handle h, int32_t low, int32_t* high, uint32_t method) {
    OpenFile* f = Find(h);
    if (!f) {
        Fail(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    const int64_t distance =
        high ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*high)) << 32) | static_cast<uint32_t>(low))
             : static_cast<int64_t>(low);
    int64_t base = 0;
    if (method == FILE_CURRENT) {
        base = f->position;
    } else if (method == FILE_END) {
        if (!Size(*f, base)) return INVALID_SET_FILE_POINTER;
    } else if (method != FILE_BEGIN) {
        Fail(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    const int64_t target = base + distance;
    if (target < 0) {
        Fail(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    f->position = target;
    if (high) *high = static_cast<int32_t>(static_cast<uint64_t>(target) >> 32);
    lastError_ = 0;  // the low half may equal the failure value
    return static_cast<uint32_t>(static_cast<uint64_t>(target));
}

bool Win32Platform::ReadAt(OpenFile& f, void* buffer, uint32_t size, int64_t offset, uint32_t& got) {
    got = 0;
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    ov.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    // The low bit keeps this read's packet off a completion port the handle is bound to.
    ov.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(f.event) | 1);
    ::ResetEvent(H(f.event));
    DWORD n = 0;
    if (!::ReadFile(H(f.handle), buffer, size, nullptr, &ov)) {
        DWORD error = ::GetLastError();
        if (error == ERROR_IO_PENDING) error = ::GetOverlappedResult(H(f.handle), &ov, &n, TRUE) ? 0 : ::GetLastError();
        if (error == ERROR_HANDLE_EOF) return true;
        if (error) return Fail(error);
    } else if (!::GetOverlappedResult(H(f.handle), &ov, &n, TRUE)) {
        return Fail(::GetLastError());
    }
    got = n;
    return true;
}

// A failed read of a disk that has since gone is that disk going; false always.
bool Win32Platform::Gone(OpenFile& f) {
    const uint32_t error = lastError_;
    int64_t size = 0;
    lastError_ = f.device && (!Size(f, size) || size == 0) ? ErrorDeviceGone : error;
    return false;
}

// Reads until the request is filled or the device ends; an error anywhere fails
// the whole read, as a raw-disk read is all or nothing except at the end.
bool Win32Platform::ReadFile(Handle h, void* buffer, uint32_t size, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    OpenFile* f = Find(h);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    const int64_t pos = f->position;
    const uint32_t unit = f->sectorSize;
    auto* out = static_cast<uint8_t*>(buffer);
    std::unique_ptr<uint8_t, AlignedDeleter> bounce;
    uint32_t got = 0;
    while (got < size) {
        const int64_t off = pos + got;
        const uint32_t want = size - got;
        uint32_t n = 0;
        uint32_t usable = 0;
        if (reinterpret_cast<uintptr_t>(out + got) % unit == 0 && off % unit == 0 && want % unit == 0) {
            if (!ReadAt(*f, out + got, want, off, n)) return Gone(*f);
            usable = n;
        } else {
            // Unbuffered reads need aligned memory, offset and length: read the
            // enclosing sectors and copy the part asked for.
            const int64_t start = off - off % unit;
            const uint32_t lead = static_cast<uint32_t>(off - start);
            const uint64_t span = (uint64_t{lead} + want + unit - 1) / unit * unit;
            if (span > 0x7fffffffu) return Fail(ERROR_INVALID_PARAMETER);
            if (!bounce) {
                bounce.reset(static_cast<uint8_t*>(AlignedAlloc(std::max<size_t>(unit, MemoryAlignment),
                                                                (span + MemoryAlignment - 1) / MemoryAlignment * MemoryAlignment)));
                if (!bounce) return Fail(ERROR_NOT_ENOUGH_MEMORY);
            }
            if (!ReadAt(*f, bounce.get(), static_cast<uint32_t>(span), start, n)) return Gone(*f);
            usable = n > lead ? std::min(n - lead, want) : 0;
            if (usable) std::memcpy(out + got, bounce.get() + lead, usable);
            bounce.reset();
        }
        if (usable == 0) break;  // the end of the device
        got += usable;
    }
    f->position = pos + got;
    if (bytesRead) *bytesRead = got;
    lastError_ = 0;
    return true;
}

bool Win32Platform::DeviceIoControl(Handle h, uint32_t code, const void* in, uint32_t inSize, void* out,
                                    uint32_t outSize, uint32_t* bytesReturned) {
    if (bytesReturned) *bytesReturned = 0;
    OpenFile* f = Find(h);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (code == IOCTL_STORAGE_GET_DRIVE_IDENTITY) return IdentityControl(*f, out, outSize, bytesReturned);
    if (!f->device) return FileControl(*f, code, out, outSize, bytesReturned);
    switch (code) {
    case IOCTL_DISK_GET_PARTITION_INFO:
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
    case IOCTL_DISK_GET_DRIVE_LAYOUT:
    case SMART_GET_VERSION:
    case SMART_SEND_DRIVE_COMMAND:
    case SMART_RCV_DRIVE_DATA:
    case IOCTL_STORAGE_QUERY_PROPERTY:
        break;  // the seam's records are the system's
    case IOCTL_SCSI_PASS_THROUGH:
        return ScsiPassThrough(*f, in, inSize, out, outSize, bytesReturned);
    default:
        // Nothing else is passed on: no code can reach a control that writes.
        return Fail(ERROR_INVALID_FUNCTION);
    }
    DWORD n = 0;
    OVERLAPPED ov{};
    ov.hEvent = H(f->event);
    ::ResetEvent(H(f->event));
    if (!::DeviceIoControl(H(f->handle), code, const_cast<void*>(in), inSize, out, outSize, &n, &ov) &&
        (::GetLastError() != ERROR_IO_PENDING || !::GetOverlappedResult(H(f->handle), &ov, &n, TRUE)))
        return Fail(::GetLastError());
    if (bytesReturned) *bytesReturned = n;
    lastError_ = 0;
    return true;
}

// The 32-bit record, carried over into the system's own (pointer-sized offsets on
// 64-bit Windows) and back.
bool Win32Platform::ScsiPassThrough(OpenFile& f, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                                    uint32_t* bytesReturned) {
    if (!in || inSize < sizeof(platform::SCSI_PASS_THROUGH) || !out) return Fail(ERROR_INVALID_PARAMETER);
    platform::SCSI_PASS_THROUGH s{};
    std::memcpy(&s, in, sizeof s);
    const auto* inBytes = static_cast<const uint8_t*>(in);
    const uint32_t head = sizeof(platform::SCSI_PASS_THROUGH);
    const uint32_t nativeHead = sizeof(::SCSI_PASS_THROUGH);
    // The buffers follow the record; their offsets move by the size difference.
    if (s.DataBufferOffset < head || s.SenseInfoOffset < head || s.DataBufferOffset + uint64_t{s.DataTransferLength} > std::max(inSize, outSize) ||
        s.SenseInfoOffset + uint64_t{s.SenseInfoLength} > std::max(inSize, outSize) || s.CdbLength > 16)
        return Fail(ERROR_INVALID_PARAMETER);
    const uint32_t shift = nativeHead - head;
    const uint32_t total = std::max(inSize, outSize) + shift;
    std::vector<uint8_t> buffer(total, 0);
    ::SCSI_PASS_THROUGH n{};
    n.Length = sizeof n;
    n.PathId = s.PathId;
    n.TargetId = s.TargetId;
    n.Lun = s.Lun;
    n.CdbLength = s.CdbLength;
    n.SenseInfoLength = s.SenseInfoLength;
    n.DataIn = s.DataIn;
    n.DataTransferLength = s.DataTransferLength;
    n.TimeOutValue = s.TimeOutValue;
    n.DataBufferOffset = s.DataBufferOffset + shift;
    n.SenseInfoOffset = s.SenseInfoOffset + shift;
    std::memcpy(n.Cdb, s.Cdb, sizeof n.Cdb);
    std::memcpy(buffer.data(), &n, sizeof n);
    if (inSize > head) std::memcpy(buffer.data() + nativeHead, inBytes + head, inSize - head);
    DWORD got = 0;
    OVERLAPPED ov{};
    ov.hEvent = H(f.event);
    ::ResetEvent(H(f.event));
    if (!::DeviceIoControl(H(f.handle), IOCTL_SCSI_PASS_THROUGH, buffer.data(), nativeHead + (inSize - head), buffer.data(),
                           nativeHead + (outSize > head ? outSize - head : 0), &got, &ov) &&
        (::GetLastError() != ERROR_IO_PENDING || !::GetOverlappedResult(H(f.handle), &ov, &got, TRUE)))
        return Fail(::GetLastError());
    std::memcpy(&n, buffer.data(), sizeof n);
    s.ScsiStatus = n.ScsiStatus;
    s.SenseInfoLength = n.SenseInfoLength;
    s.DataTransferLength = n.DataTransferLength;
    auto* outBytes = static_cast<uint8_t*>(out);
    if (outSize >= head) {
        std::memcpy(outBytes, &s, head);
        std::memcpy(outBytes + head, buffer.data() + nativeHead, outSize - head);
    }
    if (bytesReturned) *bytesReturned = got >= shift ? got - shift : 0;
    lastError_ = 0;
    return true;
}

// An image file stands for a disk of its size: one partition over all of it, the
// conventional geometry, no partition table read (the system reads none from a file).
bool Win32Platform::FileControl(OpenFile& f, uint32_t code, void* out, uint32_t outSize, uint32_t* bytesReturned) {
    int64_t size = 0;
    if (code == IOCTL_DISK_GET_PARTITION_INFO) {
        if (!out || outSize < sizeof(platform::PARTITION_INFORMATION)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        if (!Size(f, size)) return false;
        platform::PARTITION_INFORMATION pi{};
        pi.PartitionLength = size;
        std::memcpy(out, &pi, sizeof pi);
        if (bytesReturned) *bytesReturned = sizeof pi;
        lastError_ = 0;
        return true;
    }
    if (code == IOCTL_DISK_GET_DRIVE_GEOMETRY) {
        if (!out || outSize < sizeof(platform::DISK_GEOMETRY)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        if (!Size(f, size)) return false;
        platform::DISK_GEOMETRY g{};
        g.BytesPerSector = 512;
        g.TracksPerCylinder = 255;
        g.SectorsPerTrack = 63;
        g.Cylinders = size / (255 * 63 * 512);
        g.MediaType = platform::FixedMedia;
        std::memcpy(out, &g, sizeof g);
        if (bytesReturned) *bytesReturned = sizeof g;
        lastError_ = 0;
        return true;
    }
    // SMART, pass-through and layout queries have no file to answer them.
    return Fail(ERROR_INVALID_FUNCTION);
}

// Which disk the handle reads: the system's device number and the drive's serial
// for a disk, the volume and file index for an image file.
bool Win32Platform::IdentityControl(OpenFile& f, void* out, uint32_t outSize, uint32_t* bytesReturned) {
    if (!out || outSize < sizeof(platform::DRIVE_IDENTITY)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    platform::DRIVE_IDENTITY id{};
    if (!f.device) {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(H(f.handle), &info)) return Fail(::GetLastError());
        id.DeviceNumber = info.dwVolumeSerialNumber;
        id.FileIndex = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    } else {
        STORAGE_DEVICE_NUMBER number{};
        DWORD n = 0;
        OVERLAPPED ov{};
        ov.hEvent = H(f.event);
        ::ResetEvent(H(f.event));
        if (!::DeviceIoControl(H(f.handle), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &n, &ov) &&
            (::GetLastError() != ERROR_IO_PENDING || !::GetOverlappedResult(H(f.handle), &ov, &n, TRUE)))
            return Fail(::GetLastError());
        id.DeviceNumber = (uint64_t{number.DeviceType} << 32) | number.DeviceNumber;
        id.FileIndex = static_cast<uint32_t>(number.PartitionNumber);
        // Drive numbers pass to another disk when disks come and go; the serial does not.
        STORAGE_PROPERTY_QUERY query{};
        query.PropertyId = ::StorageDeviceProperty;
        query.QueryType = ::PropertyStandardQuery;
        std::vector<uint8_t> answer(1024, 0);
        ::ResetEvent(H(f.event));
        n = 0;
        if (::DeviceIoControl(H(f.handle), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, answer.data(),
                              static_cast<DWORD>(answer.size()), &n, &ov) ||
            (::GetLastError() == ERROR_IO_PENDING && ::GetOverlappedResult(H(f.handle), &ov, &n, TRUE))) {
            STORAGE_DEVICE_DESCRIPTOR d{};
            std::memcpy(&d, answer.data(), std::min<size_t>(sizeof d, n));
            if (d.SerialNumberOffset > 0 && d.SerialNumberOffset < n) {
                const char* serial = reinterpret_cast<const char*>(answer.data() + d.SerialNumberOffset);
                id.DiskSequence = Fold(std::string(serial, strnlen(serial, n - d.SerialNumberOffset)));
            }
        }
    }
    std::strncpy(id.DeviceNode, f.path.c_str(), sizeof id.DeviceNode - 1);
    std::memcpy(out, &id, sizeof id);
    if (bytesReturned) *bytesReturned = sizeof id;
    lastError_ = 0;
    return true;
}

// --- overlapped reads: one completion port per bound handle -----------------

bool Win32Platform::BindIoCompletion(Handle h, uint32_t depth) {
    OpenFile* f = Find(h);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (depth == 0) return Fail(ERROR_INVALID_PARAMETER);
    if (f->port) return true;
    HANDLE port = ::CreateIoCompletionPort(H(f->handle), nullptr, 0, 1);
    if (!port) return Fail(::GetLastError());
    f->port = port;
    return true;
}

std::string Win32Platform::IoCompletionKind(Handle h) {
    OpenFile* f = Find(h);
    return f && f->port ? "I/O completion port" : std::string();
}

bool Win32Platform::ReadFileOverlapped(Handle h, void* buffer, uint32_t size, int64_t offset, uint64_t key) {
    OpenFile* f = Find(h);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (!f->port || offset < 0) return Fail(ERROR_INVALID_PARAMETER);
    auto read = std::make_unique<PendingRead>();
    read->key = key;
    read->size = size;
    read->ov.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    read->ov.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    if (!::ReadFile(H(f->handle), buffer, size, nullptr, &read->ov)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            // Failed at once: no packet comes, so the read completes here. At
            // the end of the device it is a short read for ReadFile to settle.
            ReadCompletion c;
            c.key = key;
            c.error = error == ERROR_HANDLE_EOF ? 0 : error;
            c.completedUs = ReadClockUs();
            f->settled.push_back(c);
            return true;
        }
    }
    read.release();  // the packet hands it back
    ++f->inFlight;
    return true;
}

bool Win32Platform::GetQueuedCompletionStatus(Handle h, ReadCompletion& out) {
    OpenFile* f = Find(h);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (!f->settled.empty()) {
        out = f->settled.front();
        f->settled.pop_front();
        return true;
    }
    if (!f->inFlight) return false;
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* ov = nullptr;
    const BOOL ok = ::GetQueuedCompletionStatus(H(f->port), &bytes, &key, &ov, INFINITE);
    const DWORD error = ok ? 0 : ::GetLastError();
    if (!ov) return Fail(error);
    std::unique_ptr<PendingRead> read(reinterpret_cast<PendingRead*>(ov));
    --f->inFlight;
    out.key = read->key;
    out.bytes = bytes;
    out.error = error == ERROR_HANDLE_EOF ? 0 : error;
    out.completedUs = ReadClockUs();
    return true;
}

bool Win32Platform::CancelIo(Handle h) {
    OpenFile* f = Find(h);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (!f->inFlight) return true;
    if (!::CancelIoEx(H(f->handle), nullptr) && ::GetLastError() != ERROR_NOT_FOUND) return Fail(::GetLastError());
    return true;
}

void Win32Platform::Drain(OpenFile& f) {
    while (f.inFlight) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* ov = nullptr;
        ::GetQueuedCompletionStatus(H(f.port), &bytes, &key, &ov, INFINITE);
        if (!ov) break;
        delete reinterpret_cast<PendingRead*>(ov);
        --f.inFlight;
    }
    f.settled.clear();
}

}  // namespace platform::win32
