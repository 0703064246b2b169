// Raw reads of the Linux backend and the sector reader on real devices: the right
// bytes, the medium rather than the page cache, all or nothing except at the end,
// and bad sectors from a FUSE file under a loop device, cross-checked with badblocks.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <future>
#include <cstring>
#include <set>
#include <sstream>

#include "devices.h"
#include "platform/linux/linux_platform.h"
#include "surface/sectorreader.h"
#include "surface/surfacerun.h"
#include "drive/harddrive.h"

using namespace platform;
using devtest::Shell;

namespace {

const int64_t Mib = 1 << 20;
const uint32_t Block = 65536;

Handle OpenDrive(Platform& p, const std::string& path) {
    return p.CreateFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
}

bool Seek(Platform& p, Handle h, int64_t offset) {
    int32_t high = static_cast<int32_t>(offset >> 32);
    uint32_t low = p.SetFilePointer(h, static_cast<int32_t>(static_cast<uint32_t>(offset)), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && p.GetLastError() != 0);
}

}  // namespace

class RawReads : public ::testing::Test {
protected:
    devtest::TempDir dir_;
    linuxbe::LinuxPlatform platform_;
};

TEST_F(RawReads, ReadsTheRightBytesAtAnyOffsetIntoAnyBuffer) {
    REQUIRE_LOOP();
    const std::string image = dir_ / "big.img";
    const int64_t far = int64_t{8388608} * 512;  // 4 GiB: needs the high half
    devtest::MakeImage(image, far + 2 * Block);
    const auto first = devtest::Pattern(Block, 1), high = devtest::Pattern(Block, 2);
    devtest::WriteAt(image, 0, first);
    devtest::WriteAt(image, far, high);
    devtest::LoopDevice loop(image, "-r");
    REQUIRE_ATTACHED(loop);

    for (const std::string& target : {loop.node(), image}) {
        SCOPED_TRACE(target);
        TSectorReader r(platform_);
        ASSERT_TRUE(r.Open(target));
        ASSERT_EQ(r.ReadSectorBlock(0), 0);
        EXPECT_EQ(std::memcmp(r.ReadBuffer, first.data(), Block), 0);
        ASSERT_EQ(r.ReadSectorBlock(8388608), 0);
        EXPECT_EQ(r.BytesRead, Block);
        EXPECT_EQ(std::memcmp(r.ReadBuffer, high.data(), Block), 0);

        // unaligned memory, offset and length go through the bounce buffer
        Handle h = OpenDrive(platform_, target);
        ASSERT_NE(h, InvalidHandle);
        std::vector<uint8_t> buf(5000);
        uint32_t got = 0;
        ASSERT_TRUE(Seek(platform_, h, far + 1001));
        ASSERT_TRUE(platform_.ReadFile(h, buf.data() + 3, 3001, &got));
        EXPECT_EQ(got, 3001u);
        EXPECT_TRUE(std::equal(buf.begin() + 3, buf.begin() + 3004, high.begin() + 1001));
        // the position moves on by what was read
        ASSERT_TRUE(platform_.ReadFile(h, buf.data() + 1, 7, &got));
        EXPECT_TRUE(std::equal(buf.begin() + 1, buf.begin() + 8, high.begin() + 4002));
        platform_.CloseHandle(h);
    }
}

// On Windows a raw-disk handle is not cached. A block the loop device has cached
// must not hide what the medium now holds.
TEST_F(RawReads, ReachTheMediumNotThePageCache) {
    REQUIRE_LOOP();
    const std::string image = dir_ / "cache.img";
    devtest::MakeImage(image, 4 * Mib);
    devtest::WriteAt(image, 0, devtest::Pattern(Block, 10));
    devtest::LoopDevice loop(image);  // buffered backing: writes to the file show
    REQUIRE_ATTACHED(loop);
    // The cache of a block device goes with its last opener: hold it open.
    int holder = ::open(loop.node().c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    std::vector<uint8_t> cached(Block), again(Block);
    ASSERT_EQ(::pread(holder, cached.data(), Block, 0), static_cast<ssize_t>(Block));
    const auto fresh = devtest::Pattern(Block, 11);
    devtest::WriteAt(image, 0, fresh);  // behind the loop device's cache
    // a buffered reader still sees the stale copy (what this test guards against)
    ASSERT_EQ(::pread(holder, again.data(), Block, 0), static_cast<ssize_t>(Block));
    if (again != cached) {
        ::close(holder);
        GTEST_SKIP() << "the kernel dropped the cached copy; nothing to tell apart";
    }
    TSectorReader r(platform_);
    ASSERT_TRUE(r.Open(loop.node()));
    ASSERT_EQ(r.ReadSectorBlock(0), 0);
    EXPECT_EQ(std::memcmp(r.ReadBuffer, fresh.data(), Block), 0);
    ::close(holder);
}

TEST_F(RawReads, ShortOnlyAtTheEndOfTheDevice) {
    REQUIRE_LOOP();
    const std::string image = dir_ / "odd.img";
    const int64_t size = Mib + 100 * 512;  // the last block holds 100 sectors
    devtest::MakeImage(image, size);
    devtest::LoopDevice loop(image, "-r");
    REQUIRE_ATTACHED(loop);
    TSectorReader r(platform_);
    ASSERT_TRUE(r.Open(loop.node()));
    EXPECT_EQ(r.ReadSectorBlock(2048), 0);
    EXPECT_EQ(r.BytesRead, 100u * 512);
    EXPECT_EQ(r.ReadSectorBlock(2048 + 128), 0);  // wholly past the end
    EXPECT_EQ(r.BytesRead, 0u);
    EXPECT_EQ(r.ReadSectorBlock(0), 0);
    EXPECT_EQ(r.BytesRead, Block);
}

namespace {

struct Range { int64_t offset, length; };

std::string RangeArg(const std::vector<Range>& ranges) {
    std::string s;
    for (const auto& r : ranges) s += (s.empty() ? "" : ",") + std::to_string(r.offset) + ":" + std::to_string(r.length);
    return s;
}

std::set<int64_t> Touched(const std::vector<Range>& ranges, int64_t unit) {
    std::set<int64_t> out;
    for (const auto& r : ranges)
        for (int64_t u = r.offset / unit; u <= (r.offset + r.length - 1) / unit; ++u) out.insert(u);
    return out;
}

}  // namespace

// A disk with bad sectors: a FUSE file whose reads fail where they touch the bad
// ranges, behind a read-only loop device with direct I/O.
TEST_F(RawReads, FailExactlyTheBlocksCoveringBadRanges) {
    std::string why = devtest::FuseUnavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    REQUIRE_TOOL("badblocks");
    const int64_t size = 16 * Mib;
    const std::vector<Range> bad = {
        {Mib + 3 * 512, 512},          // one sector inside block 16
        {5 * Mib + 100, 1},            // one byte
        {8 * Mib - 512, 1024},         // across the boundary of blocks 127 and 128
        {size - 512, 512},             // the last sector
    };
    devtest::BadFile disk(dir_ / "mnt", size, RangeArg(bad));
    ASSERT_TRUE(disk.ok()) << "the FUSE helper did not come up";
    devtest::LoopDevice loop(disk.file(), "-r --direct-io=on");
    REQUIRE_ATTACHED(loop);

    std::set<int64_t> failed;
    {
        TSectorReader r(platform_);
        ASSERT_TRUE(r.Open(loop.node()));
        for (int64_t s = 0; s < size / 512; s += 128) {
            int32_t status = r.ReadSectorBlock(s);
            if (status != 0) {
                failed.insert(s / 128);
            } else if (s == 0) {
                EXPECT_EQ(static_cast<uint8_t*>(r.ReadBuffer)[777], devtest::BadFile::ByteAt(777));
            }
        }
    }
    EXPECT_EQ(failed, Touched(bad, Block));
    EXPECT_EQ(failed, (std::set<int64_t>{16, 80, 127, 128, 255}));

    // Sector by sector, unbuffered reads fail exactly the bad sectors.
    Handle h = OpenDrive(platform_, loop.node());
    ASSERT_NE(h, InvalidHandle);
    void* sector = std::aligned_alloc(4096, 4096);
    std::set<int64_t> badSectors;
    for (int64_t blk : failed)
        for (int64_t s = blk * 128; s < (blk + 1) * 128; ++s) {
            uint32_t got = 0;
            ASSERT_TRUE(Seek(platform_, h, s * 512));
            if (!platform_.ReadFile(h, sector, 512, &got)) {
                badSectors.insert(s);
                EXPECT_EQ(platform_.GetLastError(), static_cast<uint32_t>(EIO));
            }
        }
    std::free(sector);
    platform_.CloseHandle(h);
    EXPECT_EQ(badSectors, Touched(bad, 512));

    // The peer: badblocks reads through the page cache here, so it may widen a
    // bad sector to its 4 KiB page, but never beyond the blocks found above.
    std::string out;
    ASSERT_EQ(Shell("badblocks -b 512 " + loop.node(), &out), 0);
    std::set<int64_t> peer;
    std::istringstream in(out);
    for (int64_t n; in >> n;) peer.insert(n);
    for (int64_t s : Touched(bad, 512)) EXPECT_TRUE(peer.count(s)) << "badblocks missed sector " << s;
    std::set<int64_t> peerBlocks;
    for (int64_t s : peer) peerBlocks.insert(s / 128);
    EXPECT_EQ(peerBlocks, failed);
}

// A read the medium cuts short before the end goes on for the rest, and fails
// when the rest cannot be read.
TEST_F(RawReads, ShortReadBeforeTheEndReadsOn) {
    std::string why = devtest::FuseUnavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    const int64_t size = 4 * Mib;
    // reads stop at sectors 196, 586 and 1954; sector 586 is bad
    devtest::BadFile disk(dir_ / "mnt", size, "300032:512", "100352,300032,1000448");
    ASSERT_TRUE(disk.ok()) << "the FUSE helper did not come up";
    TSectorReader r(platform_);
    ASSERT_TRUE(r.Open(disk.file()));
    ASSERT_EQ(r.ReadSectorBlock(128), 0);  // 65536..131071 crosses 100000
    EXPECT_EQ(r.BytesRead, Block);
    const auto* b = static_cast<const uint8_t*>(r.ReadBuffer);
    for (uint32_t i : {0u, 34815u, 34816u, 65535u}) EXPECT_EQ(b[i], devtest::BadFile::ByteAt(65536 + i)) << i;
    EXPECT_EQ(r.ReadSectorBlock(512), 1);  // 262144..327679: cut short, then the bad sector
    EXPECT_EQ(r.ReadSectorBlock(1920), 0);  // crosses sector 1954
    EXPECT_EQ(r.BytesRead, Block);
    EXPECT_EQ(r.ReadSectorBlock(size / 512 - 64), 0);  // the real end: short and good
    EXPECT_EQ(r.BytesRead, Block / 2);
}

// An image whose size is no multiple of 512: the last block's aligned re-read
// once took the file's end for a failure ("Sector Error @: 1920").
TEST_F(RawReads, AnImageOfOddSizeReadsItsTailWhole) {
    const std::string image = dir_ / "odd.img";
    const int64_t size = 1000001;
    const auto bytes = devtest::Pattern(static_cast<size_t>(size), 7);
    devtest::MakeImage(image, size);
    devtest::WriteAt(image, 0, bytes);
    TSectorReader r(platform_);
    ASSERT_TRUE(r.Open(image));
    const int flags = ::fcntl(platform_.DescriptorOf(r.DriveHandle), F_GETFL);
    if (!(flags & O_DIRECT)) GTEST_SKIP() << "the file system of " << dir_.path() << " reads no file unbuffered";
    ASSERT_EQ(r.ReadSectorBlock(1920), 0) << platform_.SystemErrorText(platform_.GetLastError());
    ASSERT_EQ(r.BytesRead, static_cast<uint32_t>(size - 1920 * 512));
    EXPECT_EQ(std::memcmp(r.ReadBuffer, bytes.data() + 1920 * 512, r.BytesRead), 0);
    EXPECT_EQ(r.ReadSectorBlock(1920 + 128), 0);  // wholly past the end
    EXPECT_EQ(r.BytesRead, 0u);
}

namespace {

struct CutRun {
    std::vector<std::string> log;
    SurfaceRunResult result;
};

// A surface run that calls cut() once the given number of blocks were read.
CutRun RunAndCut(Platform& p, const std::string& path, int64_t endSector, int afterBlocks,
                 const std::function<void()>& cut) {
    CutRun out;
    int blocks = 0;
    SurfaceRunCallbacks cb;
    cb.log = [&](const std::string& l) { out.log.push_back(l); };
    cb.progress = [&](int) {
        if (++blocks == afterBlocks) cut();
    };
    out.result = TSurfaceRun(p, cb).Run(path, "DISK", endSector);
    return out;
}

}  // namespace

// A loop device cut to 0 bytes mid-scan once read as the end of the device: no
// error, exit 0, three quarters unread.
TEST_F(RawReads, ALoopDeviceCutToNothingMidScanStopsTheRunThere) {
    REQUIRE_LOOP();
    const std::string image = dir_ / "cut.img";
    devtest::MakeImage(image, 4 * Mib);
    devtest::LoopDevice loop(image);
    REQUIRE_ATTACHED(loop);
    const CutRun run = RunAndCut(platform_, loop.node(), 4 * Mib / 512, 2, [&] {
        std::filesystem::resize_file(image, 0);
        Shell("losetup -c " + loop.node());
    });
    ASSERT_TRUE(run.result.opened);
    EXPECT_TRUE(run.result.vanished);
    // Reads in flight may have fetched up to one window of blocks before the cut.
    const int64_t at = run.result.CurrentSector;
    EXPECT_GE(at, 256);
    EXPECT_LE(at, 256 + 32 * 128);
    EXPECT_EQ(at % 128, 0);
    EXPECT_EQ(run.result.ErrorCount, 1);
    EXPECT_EQ(run.log, (std::vector<std::string>{"Drive vanished at sector " + std::to_string(at) +
                                                 ": No such device or address"}));
}

TEST_F(RawReads, AnImageFileTruncatedMidScanStopsTheRunWhereItsDataEnds) {
    const std::string image = dir_ / "shrinking.img";
    devtest::MakeImage(image, 8 * Mib);
    const CutRun run = RunAndCut(platform_, image, 8 * Mib / 512, 3,
                                 [&] { std::filesystem::resize_file(image, 4 * Mib); });
    ASSERT_TRUE(run.result.opened);
    EXPECT_TRUE(run.result.vanished);
    EXPECT_EQ(run.result.CurrentSector, 4 * Mib / 512);
    EXPECT_EQ(run.result.ErrorCount, 1);
    EXPECT_EQ(run.log, (std::vector<std::string>{"Drive vanished at sector 8192: No such device or address"}));
}

// A FIFO once held the open until a writer came; a directory was read as a drive.
TEST_F(RawReads, OnlyBlockDevicesAndFilesAreOpenedAndNothingBlocksTheOpen) {
    const std::string fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto opening = std::async(std::launch::async, [&] { return OpenDrive(platform_, fifo); });
    if (opening.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Let the stuck open go, so the test ends.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        opening.wait();
        if (writer >= 0) ::close(writer);
        FAIL() << "opening a FIFO blocked";
    }
    EXPECT_EQ(opening.get(), InvalidHandle);
    EXPECT_EQ(platform_.GetLastError(), static_cast<uint32_t>(ENOTBLK));
    EXPECT_EQ(OpenDrive(platform_, dir_.path()), InvalidHandle);
    EXPECT_EQ(platform_.GetLastError(), static_cast<uint32_t>(EISDIR));
    EXPECT_EQ(OpenDrive(platform_, "/dev/null"), InvalidHandle);
    EXPECT_EQ(platform_.GetLastError(), static_cast<uint32_t>(ENOTBLK));
    const std::string image = dir_ / "plain.img";
    devtest::MakeImage(image, Mib);
    const Handle h = OpenDrive(platform_, image);
    ASSERT_NE(h, InvalidHandle);
    EXPECT_FALSE(::fcntl(platform_.DescriptorOf(h), F_GETFL) & O_NONBLOCK) << "reads must wait for the medium";
    platform_.CloseHandle(h);
}

// A disk detached and attached again is another disk, even on the same node.
TEST_F(RawReads, AHandleReadsOnlyTheDiskThatWasProbed) {
    REQUIRE_LOOP();
    const std::string image = dir_ / "seq.img";
    devtest::MakeImage(image, Mib);
    DriveIdentity before;
    std::string node;
    {
        devtest::LoopDevice loop(image, "-r");
        REQUIRE_ATTACHED(loop);
        node = loop.node();
        const THardDrive probe(platform_, node);
        before = probe.Identity;
        ASSERT_TRUE(before.known);
        EXPECT_EQ(before.node, node);
        TSectorReader same(platform_);
        EXPECT_TRUE(same.Open(node, &before));
    }
    devtest::LoopDevice again(image, "-r");
    REQUIRE_ATTACHED(again);
    TSectorReader r(platform_);
    EXPECT_FALSE(r.Open(node, &before)) << "a detached disk came back as the same one";
    TSectorReader fresh(platform_);
    const THardDrive probe(platform_, again.node());
    ASSERT_TRUE(fresh.Open(again.node(), &probe.Identity));
    if (again.node() == node) {
        EXPECT_NE(probe.Identity.diskSequence, before.diskSequence);
    }
}
