// Drive paths, raw reads and the disk queries.
#include <blkid/blkid.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "platform/linux/devicemap.h"
#include "platform/linux/linux_platform.h"

namespace platform::linuxbe {

namespace {

constexpr size_t MemoryAlignment = 4096;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

bool IsAligned(const void* p, size_t a) {
    return reinterpret_cast<std::uintptr_t>(p) % a == 0;
}

// Size in bytes of a block device or an image file.
bool DeviceSize(int fd, bool blockDevice, int64_t& size) {
    if (blockDevice) {
        uint64_t bytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) return false;
        size = static_cast<int64_t>(bytes);
        return true;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0) return false;
    size = st.st_size;
    return true;
}

bool IsRemovable(int fd) {
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) return false;
    std::ifstream in("/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                     std::to_string(minor(st.st_rdev)) + "/removable");
    int removable = 0;
    return (in >> removable) && removable == 1;
}

}  // namespace

// Every drive is opened here, and only for reading: the access asked for is not
// consulted, so no path through this layer can hand out a writable descriptor.
Handle LinuxPlatform::CreateFile(const std::string& path, uint32_t, uint32_t, uint32_t creation,
                                 uint32_t) {
    if (creation != OPEN_EXISTING) {
        lastError_ = EINVAL;
        return InvalidHandle;
    }
    auto node = DeviceNodeForPath(path);
    if (!node) {
        lastError_ = ENOENT;
        return InvalidHandle;
    }
    OpenFile f;
    f.path = path;
    f.node = *node;
    // Unbuffered, so a read reaches the medium and a cached copy cannot hide a bad
    // sector. File systems that refuse O_DIRECT get a buffered descriptor; ReadFile
    // then drops the range from the cache around each read.
    // Non-blocking, so a FIFO or a device that waits for a peer cannot hold the
    // open; what is not a disk or an image file is refused before any read.
    f.fd = ::open(node->c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT | O_NONBLOCK);
    f.direct = f.fd >= 0;
    if (f.fd < 0 && errno == EINVAL) f.fd = ::open(node->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (f.fd < 0) {
        lastError_ = static_cast<uint32_t>(errno);
        return InvalidHandle;
    }
    struct stat st{};
    if (::fstat(f.fd, &st) != 0 || !(S_ISBLK(st.st_mode) || S_ISREG(st.st_mode))) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : ENOTBLK;
        ::close(f.fd);
        lastError_ = static_cast<uint32_t>(error);
        return InvalidHandle;
    }
    f.blockDevice = S_ISBLK(st.st_mode);
    if (int flags = ::fcntl(f.fd, F_GETFL); flags >= 0) ::fcntl(f.fd, F_SETFL, flags & ~O_NONBLOCK);
    return Register(std::move(f));
}

Handle LinuxPlatform::AdoptDescriptor(int fd, const std::string& path, const std::string& node) {
    OpenFile f;
    f.fd = fd;
    f.path = path;
    f.node = node;
    struct stat st{};
    const int flags = ::fcntl(fd, F_GETFL);
    // Only a read-only descriptor of a disk is taken on; anything else is closed.
    if (flags < 0 || (flags & O_ACCMODE) != O_RDONLY || ::fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) {
        ::close(fd);
        lastError_ = static_cast<uint32_t>(flags < 0 ? EBADF : (flags & O_ACCMODE) != O_RDONLY ? EACCES : ENOTBLK);
        return InvalidHandle;
    }
    f.blockDevice = true;
    f.direct = (flags & O_DIRECT) != 0;
    if (flags & O_NONBLOCK) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return Register(std::move(f));
}

Handle LinuxPlatform::Register(OpenFile f) {
    if (!DeviceSize(f.fd, f.blockDevice, f.sizeAtOpen)) f.sizeAtOpen = 0;
    if (f.blockDevice) {
        int ssz = 0;
        if (::ioctl(f.fd, BLKSSZGET, &ssz) == 0 && ssz >= 512) f.sectorSize = static_cast<uint32_t>(ssz);
    } else {
        // The sector; a file system that wants more refuses the read with EINVAL,
        // and ReadFile then goes on buffered.
        f.sectorSize = 512;
    }
    Handle h = nextHandle_++;
    handles_.emplace(h, std::move(f));
    return h;
}

int LinuxPlatform::DescriptorOf(Handle h) const {
    auto it = handles_.find(h);
    return it == handles_.end() ? -1 : it->second.fd;
}

uint32_t LinuxPlatform::SetFilePointer(Handle h, int32_t low, int32_t* high, uint32_t method) {
    OpenFile* f = Find(h);
    if (!f) {
        lastError_ = EBADF;
        return INVALID_SET_FILE_POINTER;
    }
    int64_t distance = high ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*high)) << 32) |
                                                   static_cast<uint32_t>(low))
                            : static_cast<int64_t>(low);
    int64_t base = 0;
    if (method == 1) {  // FILE_CURRENT
        base = f->position;
    } else if (method == 2) {  // FILE_END
        if (!DeviceSize(f->fd, f->blockDevice, base)) {
            lastError_ = static_cast<uint32_t>(errno);
            return INVALID_SET_FILE_POINTER;
        }
    } else if (method != FILE_BEGIN) {
        lastError_ = EINVAL;
        return INVALID_SET_FILE_POINTER;
    }
    int64_t target = base + distance;
    if (target < 0) {
        lastError_ = EINVAL;
        return INVALID_SET_FILE_POINTER;
    }
    f->position = target;
    if (high) *high = static_cast<int32_t>(static_cast<uint64_t>(target) >> 32);
    lastError_ = 0;  // the returned low half may equal the failure value
    return static_cast<uint32_t>(static_cast<uint64_t>(target));
}

// Reads until the request is filled or the device ends. A read the medium cuts
// short is continued; an error anywhere fails the whole read: a raw-disk read is
// all or nothing except at the end.
bool LinuxPlatform::ReadFile(Handle h, void* buffer, uint32_t size, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    OpenFile* f = Find(h);
    if (!f) {
        lastError_ = EBADF;
        return false;
    }
    const int64_t pos = f->position;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t unit = f->direct ? f->sectorSize : 1;
    const size_t memAlign = std::max<size_t>(unit, MemoryAlignment);
    std::unique_ptr<uint8_t, FreeDeleter> bounce;
    size_t bounceSize = 0;
    // Without an unbuffered mode, drop the range from the page cache so the read
    // goes to the medium, and again afterwards so it does not stay cached.
    if (!f->direct) ::posix_fadvise(f->fd, pos, size, POSIX_FADV_DONTNEED);
    size_t got = 0;
    int error = 0;
    bool retried = false;
    while (got < size) {
        const int64_t off = pos + static_cast<int64_t>(got);
        const size_t want = size - got;
        ssize_t n;
        size_t usable;
        if (!f->direct || (IsAligned(out + got, unit) && off % static_cast<int64_t>(unit) == 0 &&
                           want % unit == 0)) {
            n = ::pread(f->fd, out + got, want, off);
            usable = n > 0 ? static_cast<size_t>(n) : 0;
        } else {
            // Unbuffered reads need aligned memory, offset and length: read the
            // enclosing units into a bounce buffer and copy the part asked for.
            const int64_t start = off - off % static_cast<int64_t>(unit);
            const size_t lead = static_cast<size_t>(off - start);
            const size_t span = (lead + want + unit - 1) / unit * unit;
            if (bounceSize < span) {
                bounce.reset(static_cast<uint8_t*>(
                    std::aligned_alloc(memAlign, (span + memAlign - 1) / memAlign * memAlign)));
                bounceSize = bounce ? span : 0;
                if (!bounce) {
                    error = ENOMEM;
                    break;
                }
            }
            n = ::pread(f->fd, bounce.get(), span, start);
            usable = n > 0 && static_cast<size_t>(n) > lead ? std::min(static_cast<size_t>(n) - lead, want) : 0;
            if (usable) std::memcpy(out + got, bounce.get() + lead, usable);
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EINVAL && f->direct && !f->blockDevice) {
                // The file system refuses unbuffered reads of this shape: go on
                // buffered for this handle.
                int flags = ::fcntl(f->fd, F_GETFL);
                if (flags >= 0 && ::fcntl(f->fd, F_SETFL, flags & ~O_DIRECT) == 0) {
                    f->direct = false;
                    unit = 1;
                    ::posix_fadvise(f->fd, pos, size, POSIX_FADV_DONTNEED);
                    continue;
                }
            }
            error = errno;
            break;
        }
        if (usable == 0) {
            // No data at this offset: the end of the device, unless it lies below
            // the size measured at open. Then the device was cut or removed.
            if (off >= f->sizeAtOpen) break;
            int64_t now = 0;
            if (retried || !DeviceSize(f->fd, f->blockDevice, now) || now == 0) {
                error = ENXIO;
                break;
            }
            retried = true;  // one more try: a second empty read means it is gone
            continue;
        }
        got += usable;
    }
    if (error && error != ENXIO && error != ENODEV) {
        // A failed read of a disk that has since gone is that disk going.
        int64_t now = 0;
        if (!DeviceSize(f->fd, f->blockDevice, now) || now == 0) error = ENXIO;
    }
    if (!f->direct) ::posix_fadvise(f->fd, pos, size, POSIX_FADV_DONTNEED);
    if (error) {
        lastError_ = static_cast<uint32_t>(error);
        return false;
    }
    f->position = pos + static_cast<int64_t>(got);
    if (bytesRead) *bytesRead = static_cast<uint32_t>(got);
    lastError_ = 0;
    return true;
}

namespace {

// libblkid reads with plain read(), which an O_DIRECT descriptor refuses, so the
// partition table is read through a second, buffered, read-only descriptor.
class BlkidProbe {
public:
    explicit BlkidProbe(const std::string& node) {
        fd_ = ::open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        pr_ = blkid_new_probe();
        if (!pr_ || blkid_probe_set_device(pr_, fd_, 0, 0) != 0) {
            error_ = errno ? errno : EIO;
            if (pr_) blkid_free_probe(pr_);
            pr_ = nullptr;
        }
    }
    ~BlkidProbe() {
        if (pr_) blkid_free_probe(pr_);
        if (fd_ >= 0) ::close(fd_);
    }
    BlkidProbe(const BlkidProbe&) = delete;
    BlkidProbe& operator=(const BlkidProbe&) = delete;
    blkid_probe get() const { return pr_; }
    int error() const { return error_; }

private:
    int fd_ = -1;
    blkid_probe pr_ = nullptr;
    int error_ = 0;
};

}  // namespace

bool LinuxPlatform::DiskControl(OpenFile& f, uint32_t code, void* out, uint32_t outSize,
                                uint32_t* bytesReturned) {
    if (code == IOCTL_STORAGE_GET_DRIVE_IDENTITY) {
        // Read from this descriptor, so the answer is about what this handle reads.
        struct stat st{};
        if (!out || outSize < sizeof(DRIVE_IDENTITY)) {
            lastError_ = EINVAL;
            return false;
        }
        if (::fstat(f.fd, &st) != 0) {
            lastError_ = static_cast<uint32_t>(errno);
            return false;
        }
        DRIVE_IDENTITY id{};
        id.DeviceNumber = f.blockDevice ? st.st_rdev : st.st_dev;
        id.FileIndex = f.blockDevice ? 0 : st.st_ino;
        uint64_t seq = 0;
        // Kernels before 5.15 have no sequence numbers; the device number remains.
        if (f.blockDevice && ::ioctl(f.fd, BLKGETDISKSEQ, &seq) == 0) id.DiskSequence = seq;
        std::strncpy(id.DeviceNode, f.node.c_str(), sizeof id.DeviceNode - 1);
        std::memcpy(out, &id, sizeof id);
        if (bytesReturned) *bytesReturned = sizeof id;
        lastError_ = 0;
        return true;
    }
    int64_t size = 0;
    if (!DeviceSize(f.fd, f.blockDevice, size)) {
        lastError_ = static_cast<uint32_t>(errno);
        return false;
    }
    if (code == IOCTL_DISK_GET_PARTITION_INFO) {
        // A whole disk or a floppy volume: one partition covering the device.
        if (!out || outSize < sizeof(PARTITION_INFORMATION)) {
            lastError_ = EINVAL;
            return false;
        }
        PARTITION_INFORMATION pi{};
        pi.StartingOffset = 0;
        pi.PartitionLength = size;
        std::memcpy(out, &pi, sizeof pi);
        if (bytesReturned) *bytesReturned = sizeof pi;
        lastError_ = 0;
        return true;
    }
    if (code == IOCTL_DISK_GET_DRIVE_GEOMETRY) {
        if (!out || outSize < sizeof(DISK_GEOMETRY)) {
            lastError_ = EINVAL;
            return false;
        }
        DISK_GEOMETRY g{};
        g.BytesPerSector = f.blockDevice ? f.sectorSize : 512;
        g.TracksPerCylinder = 255;
        g.SectorsPerTrack = 63;
        hd_geometry geo{};
        // Loop and NVMe devices refuse this, image files cannot answer it; they get
        // the conventional 255 x 63, as Windows reports a geometry for every disk.
        if (f.blockDevice && ::ioctl(f.fd, HDIO_GETGEO, &geo) == 0 && geo.heads && geo.sectors) {
            g.TracksPerCylinder = geo.heads;
            g.SectorsPerTrack = geo.sectors;
        }
        g.Cylinders = size / (static_cast<int64_t>(g.TracksPerCylinder) * g.SectorsPerTrack * g.BytesPerSector);
        g.MediaType = IsRemovable(f.fd) ? RemovableMedia : FixedMedia;
        if (f.path.size() == 6 && size == 1474560) g.MediaType = F3_1Pt44_512;
        std::memcpy(out, &g, sizeof g);
        if (bytesReturned) *bytesReturned = sizeof g;
        lastError_ = 0;
        return true;
    }
    if (code == IOCTL_DISK_GET_DRIVE_LAYOUT) {
        constexpr uint32_t head = offsetof(DRIVE_LAYOUT_INFORMATION, PartitionEntry);
        if (!out || outSize < head) {
            lastError_ = EINVAL;
            return false;
        }
        BlkidProbe probe(f.node);
        if (!probe.get()) {
            lastError_ = static_cast<uint32_t>(probe.error());
            return false;
        }
        blkid_probe_enable_superblocks(probe.get(), 0);
        blkid_probe_enable_partitions(probe.get(), 1);
        blkid_probe_set_partitions_flags(probe.get(), BLKID_PARTS_ENTRY_DETAILS);
        blkid_partlist list = blkid_probe_get_partitions(probe.get());
        blkid_parttable table = list ? blkid_partlist_get_table(list) : nullptr;
        int count = table ? blkid_partlist_numof_partitions(list) : 0;
        if (count < 0) count = 0;
        const uint64_t need = head + static_cast<uint64_t>(count) * sizeof(PARTITION_INFORMATION);
        if (count > LayoutEntries || need > outSize) {
            lastError_ = ENOBUFS;
            return false;
        }
        auto* bytes = static_cast<uint8_t*>(out);
        const bool gpt = table && std::strcmp(blkid_parttable_get_type(table), "gpt") == 0;
        uint32_t signature = 0;
        if (table && !gpt) {
            if (const char* id = blkid_parttable_get_id(table))
                signature = static_cast<uint32_t>(std::strtoul(id, nullptr, 16));
        }
        uint32_t countField = static_cast<uint32_t>(count);
        std::memcpy(bytes, &countField, 4);
        std::memcpy(bytes + 4, &signature, 4);
        // libblkid lists entries in table order: MBR slots, then the logical
        // partitions of the extended chain; GPT entries in array order.
        for (int i = 0; i < count; ++i) {
            blkid_partition p = blkid_partlist_get_partition(list, i);
            PARTITION_INFORMATION e{};
            e.StartingOffset = static_cast<int64_t>(blkid_partition_get_start(p)) * 512;
            e.PartitionLength = static_cast<int64_t>(blkid_partition_get_size(p)) * 512;
            e.HiddenSectors = static_cast<uint32_t>(blkid_partition_get_start(p));
            e.PartitionNumber = static_cast<uint32_t>(blkid_partition_get_partno(p));
            // GPT entries carry 0xEE, the MBR type that stands for a GPT disk.
            e.PartitionType = gpt ? 0xEE : static_cast<uint8_t>(blkid_partition_get_type(p));
            e.BootIndicator = !gpt && (blkid_partition_get_flags(p) & 0x80) ? 1 : 0;
            e.RecognizedPartition = 1;
            std::memcpy(bytes + head + static_cast<size_t>(i) * sizeof e, &e, sizeof e);
        }
        if (bytesReturned) *bytesReturned = static_cast<uint32_t>(need);
        lastError_ = 0;
        return true;
    }
    lastError_ = EINVAL;
    return false;
}

uint32_t LinuxPlatform::GetLogicalDrives() {
    uint32_t mask = 1u << 2;  // C:, the root file system
    struct stat st{};
    if (::stat("/dev/fd0", &st) == 0) mask |= 1u;
    if (::stat("/dev/fd1", &st) == 0) mask |= 2u;
    return mask;
}

namespace {

std::string RootFileSystemType() {
    std::ifstream in("/proc/self/mounts");
    std::string dev, dir, type, rest, found;
    while (in >> dev >> dir >> type && std::getline(in, rest))
        if (dir == "/") found = type;  // the last mount on / is the one in effect
    return found;
}

}  // namespace

// "A:\" and "B:\" are the floppy drives, "C:\" the root file system; an absolute
// path names a device node or image file. A volume is readable when its medium is
// present and libblkid finds a file system on it.
bool LinuxPlatform::GetVolumeInformation(const std::string& rootPath, std::string* volumeName,
                                         std::string* fileSystemName) {
    std::string node;
    if (rootPath.size() >= 2 && rootPath[1] == ':' &&
        (rootPath.size() == 2 || (rootPath.size() == 3 && (rootPath[2] == '\\' || rootPath[2] == '/')))) {
        char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(rootPath[0])));
        if (letter == 'C') {
            struct statvfs vfs{};
            if (::statvfs("/", &vfs) != 0) {
                lastError_ = static_cast<uint32_t>(errno);
                return false;
            }
            if (volumeName) volumeName->clear();
            if (fileSystemName) *fileSystemName = RootFileSystemType();
            lastError_ = 0;
            return true;
        }
        if (letter == 'A') node = "/dev/fd0";
        else if (letter == 'B') node = "/dev/fd1";
    } else if (!rootPath.empty() && rootPath[0] == '/') {
        node = rootPath;
    }
    if (node.empty()) {
        lastError_ = ENOENT;
        return false;
    }
    BlkidProbe probe(node);
    if (!probe.get()) {
        lastError_ = static_cast<uint32_t>(probe.error());
        return false;
    }
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE |
                                                       BLKID_SUBLKS_USAGE);
    blkid_probe_filter_superblocks_usage(probe.get(), BLKID_FLTR_ONLYIN, BLKID_USAGE_FILESYSTEM);
    blkid_probe_enable_partitions(probe.get(), 0);
    // 1: nothing found; negative: the medium cannot be read (no disk in the drive).
    int rc = blkid_do_safeprobe(probe.get());
    if (rc != 0) {
        lastError_ = rc == 1 ? static_cast<uint32_t>(EMEDIUMTYPE) : static_cast<uint32_t>(ENOMEDIUM);
        return false;
    }
    const char* value = nullptr;
    if (fileSystemName)
        *fileSystemName = blkid_probe_lookup_value(probe.get(), "TYPE", &value, nullptr) == 0 && value ? value : "";
    value = nullptr;
    if (volumeName)
        *volumeName = blkid_probe_lookup_value(probe.get(), "LABEL", &value, nullptr) == 0 && value ? value : "";
    lastError_ = 0;
    return true;
}

}  // namespace platform::linuxbe

namespace platform::linuxbe {

// Only unbuffered handles: a buffered one would serve reads from the page cache,
// which ReadFile works around one read at a time.
bool LinuxPlatform::BindIoCompletion(Handle h, uint32_t depth) {
    OpenFile* f = Find(h);
    if (!f) {
        lastError_ = EBADF;
        return false;
    }
    if (f->overlapped) return true;
    if (!f->direct) {
        lastError_ = EINVAL;
        return false;
    }
    f->overlapped = MakeOverlappedReads(f->fd, depth, overlappedMode_);
    if (!f->overlapped) {
        lastError_ = ENOTSUP;
        return false;
    }
    lastError_ = 0;
    return true;
}

std::string LinuxPlatform::IoCompletionKind(Handle h) {
    OpenFile* f = Find(h);
    return f && f->overlapped ? f->overlapped->Kind() : "";
}

bool LinuxPlatform::ReadFileOverlapped(Handle h, void* buffer, uint32_t size, int64_t offset, uint64_t key) {
    OpenFile* f = Find(h);
    if (!f || !f->overlapped) {
        lastError_ = f ? EINVAL : EBADF;
        return false;
    }
    if (int e = f->overlapped->Submit(buffer, size, offset, key)) {
        lastError_ = static_cast<uint32_t>(e);
        return false;
    }
    return true;
}

bool LinuxPlatform::GetQueuedCompletionStatus(Handle h, ReadCompletion& out) {
    OpenFile* f = Find(h);
    if (!f || !f->overlapped || !f->overlapped->Wait(out)) return false;
    // A file system refusing this unbuffered shape is not a bad block: hand it
    // back unsettled, and ReadFile goes on buffered as it does for one read.
    if (out.error == EINVAL && !f->blockDevice) {
        out.error = 0;
        out.bytes = 0;
    }
    // As for one read: a failed read of a disk that has since gone is that disk going.
    if (out.error && out.error != ENXIO && out.error != ENODEV) {
        int64_t now = 0;
        if (!DeviceSize(f->fd, f->blockDevice, now) || now == 0) out.error = ENXIO;
    }
    return true;
}

bool LinuxPlatform::CancelIo(Handle h) {
    OpenFile* f = Find(h);
    if (!f || !f->overlapped) return false;
    f->overlapped->Cancel();
    return true;
}

}  // namespace platform::linuxbe
