// The Win32 backend's handles on image files under real Windows calls: reads,
// disk queries, identity, overlapped reads and the system's error texts.
#include "platform/win32/windows_api.h"
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>

#include "drive/driveidentity.h"
#include "platform/errors.h"
#include "platform/win32/win32_platform.h"
#include "support/tempdir.h"
#include "windows/win32_support.h"

namespace {

using platform::Handle;
using platform::InvalidHandle;
using platform::win32::Win32Platform;

struct Aligned {
    explicit Aligned(size_t size) : p(static_cast<uint8_t*>(platform::AlignedAlloc(4096, size))) {}
    ~Aligned() { platform::AlignedFree(p); }
    Aligned(const Aligned&) = delete;
    Aligned& operator=(const Aligned&) = delete;
    uint8_t* p;
};

class Win32Device : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir / "disk.img";
        bytes = wintest::Pattern(Size);
        wintest::Write(image, bytes);
    }
    Handle Open(const std::string& path) {
        return p.CreateFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    }
    static constexpr size_t Size = 512 * 300 + 100;  // ends inside a sector
    testsupport::TempDir dir;
    std::string image;
    std::string bytes;
    Win32Platform p;
};

TEST_F(Win32Device, ReadsAreExactAtAnyOffsetAndShortOnlyAtTheEnd) {
    Handle h = Open(image);
    ASSERT_NE(h, InvalidHandle) << p.SystemErrorText(p.GetLastError());
    Aligned buf(64 * 1024);
    uint32_t got = 0;

    // Sector-aligned, then offsets and lengths that unbuffered reads cannot take as they are.
    const std::pair<int64_t, uint32_t> reads[] = {{0, 512}, {512 * 17, 512 * 8}, {1, 511}, {700, 3000}, {512 * 299 - 3, 20}};
    for (auto [offset, size] : reads) {
        int32_t high = static_cast<int32_t>(offset >> 32);
        ASSERT_EQ(p.SetFilePointer(h, static_cast<int32_t>(offset), &high, FILE_BEGIN), static_cast<uint32_t>(offset));
        ASSERT_TRUE(p.ReadFile(h, buf.p, size, &got)) << offset;
        ASSERT_EQ(got, size) << offset;
        EXPECT_EQ(std::memcmp(buf.p, bytes.data() + offset, size), 0) << "offset " << offset;
    }
    // ReadFile moves the position on.
    int32_t high = 0;
    p.SetFilePointer(h, 0, &high, FILE_BEGIN);
    ASSERT_TRUE(p.ReadFile(h, buf.p, 512, &got));
    ASSERT_TRUE(p.ReadFile(h, buf.p, 512, &got));
    EXPECT_EQ(std::memcmp(buf.p, bytes.data() + 512, 512), 0);

    // The last block is cut at the end of the file; past the end nothing is read.
    p.SetFilePointer(h, 512 * 296, &high, FILE_BEGIN);
    ASSERT_TRUE(p.ReadFile(h, buf.p, 512 * 8, &got));
    EXPECT_EQ(got, Size - 512 * 296);
    EXPECT_EQ(std::memcmp(buf.p, bytes.data() + 512 * 296, got), 0);
    p.SetFilePointer(h, 512 * 400, &high, FILE_BEGIN);
    ASSERT_TRUE(p.ReadFile(h, buf.p, 512, &got));
    EXPECT_EQ(got, 0u);

    // Positions beyond 4 GiB keep their high half; negative ones are refused.
    high = 1;
    EXPECT_EQ(p.SetFilePointer(h, 512, &high, FILE_BEGIN), 512u);
    EXPECT_EQ(high, 1);
    high = -1;
    EXPECT_EQ(p.SetFilePointer(h, -512, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_NE(p.GetLastError(), 0u);
    EXPECT_TRUE(p.CloseHandle(h));
    EXPECT_FALSE(p.CloseHandle(h));
}

TEST_F(Win32Device, AnImageStandsForADiskOfItsSizeAndAnswersNoDriveCommand) {
    Handle h = Open(image);
    ASSERT_NE(h, InvalidHandle);
    platform::PARTITION_INFORMATION pi{};
    uint32_t n = 0;
    ASSERT_TRUE(p.DeviceIoControl(h, platform::seam::PartitionInfo, nullptr, 0, &pi, sizeof pi, &n));
    EXPECT_EQ(n, sizeof pi);
    EXPECT_EQ(pi.StartingOffset, 0);
    EXPECT_EQ(pi.PartitionLength, static_cast<int64_t>(Size));
    platform::DISK_GEOMETRY g{};
    ASSERT_TRUE(p.DeviceIoControl(h, platform::seam::DriveGeometry, nullptr, 0, &g, sizeof g, &n));
    EXPECT_EQ(g.BytesPerSector, 512u);
    EXPECT_EQ(g.MediaType, platform::FixedMedia);
    // Too small a buffer is refused, not overrun.
    uint8_t small[8] = {};
    EXPECT_FALSE(p.DeviceIoControl(h, platform::seam::PartitionInfo, nullptr, 0, small, sizeof small, &n));
    platform::GETVERSIONOUTPARAMS v{};
    EXPECT_FALSE(p.DeviceIoControl(h, platform::seam::SmartVersion, nullptr, 0, &v, sizeof v, &n));
    EXPECT_EQ(p.GetLastError(), static_cast<uint32_t>(ERROR_INVALID_FUNCTION));
    // A control the program never sends goes nowhere.
    EXPECT_FALSE(p.DeviceIoControl(h, 0x0007C004 /* IOCTL_DISK_SET_PARTITION_INFO */, &pi, sizeof pi, nullptr, 0, &n));
    p.CloseHandle(h);
}

TEST_F(Win32Device, IdentityTellsFilesApartAndStaysWithTheFile) {
    const std::string other = dir / "other.img";
    wintest::Write(other, bytes);
    Handle a = Open(image), b = Open(image), c = Open(other);
    ASSERT_NE(a, InvalidHandle);
    ASSERT_NE(c, InvalidHandle);
    const DriveIdentity ia = QueryDriveIdentity(p, a), ib = QueryDriveIdentity(p, b), ic = QueryDriveIdentity(p, c);
    EXPECT_TRUE(ia.known);
    EXPECT_TRUE(ia.SameDisk(ib));
    EXPECT_FALSE(ia.SameDisk(ic));
    EXPECT_EQ(ia.node, image);
    for (Handle h : {a, b, c}) p.CloseHandle(h);
}

TEST_F(Win32Device, OnlyExistingFilesAndDisksOpenAndFailuresCarryTheSystemsText) {
    // Opening never creates anything.
    const std::string missing = dir / "missing.img";
    EXPECT_EQ(Open(missing), InvalidHandle);
    EXPECT_EQ(p.GetLastError(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(p.CreateFile(missing, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW, 0),
              InvalidHandle);
    EXPECT_FALSE(std::filesystem::exists(missing));
    // A folder is not an image.
    EXPECT_EQ(Open(dir.path.string()), InvalidHandle);

    // FormatMessage's text, whole, and a code it does not know said as a number.
    const std::string text = p.SystemErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_GT(text.size(), 5u);
    EXPECT_EQ(text.find("Unknown error"), std::string::npos) << text;
    EXPECT_EQ(p.SystemErrorText(0x20001234u), "Unknown error 536875572");
    EXPECT_FALSE(p.SystemErrorText(platform::ErrorDeviceGone).empty());
}

TEST_F(Win32Device, AHandleOpenedForWritingIsNeverHandedOut) {
    Handle h = p.CreateFile(image, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
    ASSERT_NE(h, InvalidHandle);
    // The backend shares writing, so another program's writer may open the file.
    HANDLE writer = ::CreateFileW(platform::win32::Wide(image).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    // A reader that shares no writing opens only beside handles that do not write:
    // the backend's handle reads, whatever access was asked for.
    HANDLE reader = ::CreateFileW(platform::win32::Wide(image).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) ::CloseHandle(reader);
    p.CloseHandle(h);
    EXPECT_EQ(wintest::Read(image), bytes);
}

TEST_F(Win32Device, OverlappedReadsCompleteOnceEachWithTheirKeysAndData) {
    Handle h = Open(image);
    ASSERT_NE(h, InvalidHandle);
    ASSERT_TRUE(p.BindIoCompletion(h, 8));
    EXPECT_EQ(p.IoCompletionKind(h), "I/O completion port");
    constexpr uint32_t Block = 512 * 16;
    constexpr int Count = 8;
    Aligned buf(Block * (Count + 1));
    // Blocks 0..7: the last reaches past the end (a short read, settled with ReadFile),
    // and one more lies wholly beyond it.
    for (int i = 0; i <= Count; ++i)
        ASSERT_TRUE(p.ReadFileOverlapped(h, buf.p + i * Block, Block, int64_t{i} * Block * (i == Count ? 4 : 1), 100 + i));
    std::map<uint64_t, platform::ReadCompletion> done;
    platform::ReadCompletion c;
    while (p.GetQueuedCompletionStatus(h, c)) {
        EXPECT_FALSE(done.count(c.key)) << "twice: " << c.key;
        done[c.key] = c;
    }
    ASSERT_EQ(done.size(), static_cast<size_t>(Count + 1));
    for (int i = 0; i < Count; ++i) {
        const auto& r = done[100 + i];
        EXPECT_EQ(r.error, 0u) << i;
        const size_t expected = std::min<size_t>(Block, Size - size_t{static_cast<uint32_t>(i)} * Block);
        if (i * Block >= Size) continue;
        ASSERT_GE(r.bytes, std::min<uint32_t>(Block, 512)) << i;
        EXPECT_LE(r.bytes, expected) << i;
        EXPECT_EQ(std::memcmp(buf.p + i * Block, bytes.data() + i * Block, r.bytes), 0) << i;
    }
    EXPECT_EQ(done[100 + Count].bytes, 0u);
    EXPECT_EQ(done[100 + Count].error, 0u);
    EXPECT_TRUE(p.CancelIo(h));
    // Closing with reads in flight waits for them; nothing is written into freed memory.
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(p.ReadFileOverlapped(h, buf.p + i * Block, Block, int64_t{i} * Block, i));
    EXPECT_TRUE(p.CloseHandle(h));
}

TEST(Win32Machine, FactsComeFromTheSystem) {
    Win32Platform p;
    std::string name;
    ASSERT_TRUE(p.GetComputerName(name));
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name.find('\0'), std::string::npos);
    ASSERT_TRUE(p.GetUserName(name));
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name.find('\0'), std::string::npos);
    EXPECT_EQ(p.PlatformId(), VER_PLATFORM_WIN32_NT);
    EXPECT_NE(p.GetLogicalDrives() & (1u << 2), 0u);  // C:
    std::string label, fileSystem;
    EXPECT_TRUE(p.GetVolumeInformation("C:\\", &label, &fileSystem));
    EXPECT_FALSE(fileSystem.empty());
    EXPECT_FALSE(p.GetVolumeInformation("Q:\\", &label, &fileSystem));
    const uint64_t t0 = p.ReadClockUs();
    ::Sleep(30);
    const uint64_t t1 = p.ReadClockUs();
    EXPECT_GE(t1 - t0, 25000u);
    EXPECT_LT(t1 - t0, 5000000u);
    EXPECT_EQ(p.PathSeparator(), '\\');
    const std::string exe = p.ExecutablePath();
    EXPECT_NE(exe.find("scandor_win32_tests"), std::string::npos) << exe;
    EXPECT_TRUE(p.FileExists(exe));
    ASSERT_TRUE(p.SocketsStartup());
    auto local = p.ResolveIpv4("localhost");
    ASSERT_TRUE(local.has_value());
    EXPECT_EQ(local->front(), "127.0.0.1");
    EXPECT_FALSE(p.ResolveIpv4("no-such-host.invalid").has_value());
    p.SocketsCleanup();
}

}  // namespace
