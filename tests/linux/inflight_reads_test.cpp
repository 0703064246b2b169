// Reads in flight on real block devices: a FUSE file with slowed and failing
// ranges behind a loop device, read through io_uring and through the pread
// threads, at the default depth and one at a time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "devices.h"
#include "platform/linux/linux_platform.h"
#include "surface/surfacerun.h"

using namespace platform;
using devtest::Shell;

namespace {

const int64_t Mib = 1 << 20;
const int64_t Block = 65536;
// The machine running the tests is shared; a slowed read may be late by this much.
const uint32_t LateMs = 250;
// With reads in flight the disk starts on a block as soon as it has answered the
// one before, while the stamp of that answer waits for a thread to be scheduled;
// the block then looks shorter by that wait.
const uint32_t EarlyMs = 50;

struct Scan {
    SurfaceRunResult result;
    std::vector<int64_t> failed;
    std::map<int64_t, uint32_t> micros;  // by sector
    std::string mode;
};

Scan ScanDevice(linuxbe::LinuxPlatform& p, const std::string& node, int64_t endSector, uint32_t depth,
                std::function<bool()> abort = {}, std::function<void()> firstBlock = {}) {
    Scan s;
    SurfaceRunCallbacks cb;
    cb.blockFailed = [&](int64_t, int64_t sector) { s.failed.push_back(sector); };
    cb.blockTimed = [&](int64_t sector, ReadClass, uint32_t us) {
        if (s.micros.empty() && firstBlock) firstBlock();
        s.micros[sector] = us;
    };
    cb.readMode = [&](const std::string& how) { s.mode = how; };
    cb.abortRequested = std::move(abort);
    TSurfaceRun run(p, std::move(cb));
    run.QueueDepth = depth;
    s.result = run.Run(node, "loop", endSector);
    return s;
}

struct Mode {
    linuxbe::OverlappedMode mode;
    const char* name;
};
const Mode Modes[] = {{linuxbe::OverlappedMode::Auto, "io_uring"}, {linuxbe::OverlappedMode::Threads, "pread threads"}};

// io_uring may be refused (seccomp, kernel.io_uring_disabled); the run then says so.
bool ExpectMode(const Scan& s, const Mode& m, uint32_t depth) {
    const std::string tail = ", " + std::to_string(depth) + (depth == 1 ? " read" : " reads") + " in flight";
    if (m.mode == linuxbe::OverlappedMode::Auto && s.mode == "pread threads" + tail) {
        std::cerr << "io_uring is refused here; the pread threads read instead\n";
        return true;
    }
    EXPECT_EQ(s.mode, std::string(m.name) + tail);
    return s.mode == std::string(m.name) + tail;
}

std::vector<std::string> LogLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

std::string Hash(const std::string& path) {
    std::string out;
    Shell("sha256sum '" + path + "'", &out);
    return out.substr(0, 64);
}

// The access mode of every descriptor this process holds on a node.
std::vector<int> FlagsOfDescriptorsOn(const std::string& node) {
    std::vector<int> flags;
    for (const auto& e : devtest::fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (devtest::fs::read_symlink(e.path(), ec) != node) continue;
        std::ifstream info("/proc/self/fdinfo/" + e.path().filename().string());
        for (std::string key; info >> key;) {
            if (key == "flags:") {
                std::string octal;
                info >> octal;
                flags.push_back(static_cast<int>(std::stol(octal, nullptr, 8)));
                break;
            }
        }
    }
    return flags;
}

class InflightReads : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string why = devtest::FuseUnavailable();
        if (!why.empty()) GTEST_SKIP() << why;
    }
    devtest::TempDir dir_;
};

}  // namespace

TEST_F(InflightReads, SlowBlocksAreTimedAndFailingBlocksExactAtEveryDepth) {
    const int64_t size = 16 * Mib;
    const std::string slow = "--slow=" + std::to_string(20 * Block) + ":512:300," + std::to_string(100 * Block + 4096) +
                             ":1:700," + std::to_string(150 * Block) + ":65536:60";
    const std::string bad = std::to_string(16 * Block + 1024) + ":512," + std::to_string(200 * Block) + ":65536";
    devtest::BadFile disk(dir_ / "mnt", size, bad, "-", {slow});
    ASSERT_TRUE(disk.ok()) << "the FUSE helper did not come up";
    devtest::LoopDevice loop(disk.file(), "-r --direct-io=on");
    REQUIRE_ATTACHED(loop);
    for (const Mode& m : Modes)
        for (uint32_t depth : {TSurfaceRun::DefaultQueueDepth, 1u}) {
            SCOPED_TRACE(std::string(m.name) + " depth " + std::to_string(depth));
            linuxbe::LinuxPlatform p(dir_ / "hive.reg");
            p.SetOverlappedMode(m.mode);
            Scan s = ScanDevice(p, loop.node(), size / 512, depth);
            ASSERT_TRUE(s.result.opened);
            ExpectMode(s, m, depth);
            EXPECT_EQ(s.failed, (std::vector<int64_t>{16 * 128, 200 * 128}));
            const TReadTimes& t = s.result.readTimes;
            EXPECT_EQ(t.Blocks(), 256);
            EXPECT_EQ(t.Counts()[ReadFailed], 2);
            // Threads calling pread hand their reads to the device in the order the
            // scheduler runs them, so the device may serve a block before those ahead
            // of it; the slow time then lands on a block of the same window.
            const bool inOrder = m.mode != linuxbe::OverlappedMode::Threads || depth == 1;
            const int64_t slack = inOrder ? 0 : int64_t{depth} * 128;
            ASSERT_EQ(t.Slow().size(), 2u);
            EXPECT_NEAR(t.Slow()[0].sector, 20 * 128, slack);
            EXPECT_GE(t.Slow()[0].ms, 300u - EarlyMs);
            EXPECT_LE(t.Slow()[0].ms, 300u + LateMs);
            EXPECT_NEAR(t.Slow()[1].sector, 100 * 128, slack);
            EXPECT_GE(t.Slow()[1].ms, 700u - EarlyMs);
            EXPECT_LE(t.Slow()[1].ms, 700u + LateMs);
            int under150 = 0;  // the 60 ms block, or the one of its window charged for it
            for (int64_t sector = 150 * 128 - slack; sector <= 150 * 128 + slack; sector += 128)
                under150 += ClassOfRead(false, s.micros[sector]) == Under150ms;
            EXPECT_EQ(under150, 1) << s.micros[150 * 128] << " us at block 150";
            // The blocks queued behind a slow one are not charged its time.
            if (inOrder) {
                EXPECT_LT(s.micros[21 * 128], 150000u);
                EXPECT_LT(s.micros[101 * 128], 150000u);
            }
        }
}

// The abort stops after the current block as before; nothing beyond the window
// that was in flight reaches the disk, and the run does not hang on the rest.
TEST_F(InflightReads, AbortMidScanWithReadsInFlight) {
    const int64_t size = 64 * Mib;
    const std::string log = dir_ / "reads.log";
    devtest::BadFile disk(dir_ / "mnt", size, "-", "-", {"--slow=0:" + std::to_string(size) + ":3", "--log=" + log});
    ASSERT_TRUE(disk.ok()) << "the FUSE helper did not come up";
    devtest::LoopDevice loop(disk.file(), "-r --direct-io=on");
    REQUIRE_ATTACHED(loop);
    Shell("udevadm settle -t 5");  // the probes of a new device are not ours
    for (const Mode& m : Modes) {
        SCOPED_TRACE(m.name);
        const size_t before = LogLines(log).size();
        linuxbe::LinuxPlatform p(dir_ / "hive.reg");
        p.SetOverlappedMode(m.mode);
        int polls = 0;
        std::chrono::steady_clock::time_point abortedAt;
        Scan s = ScanDevice(p, loop.node(), size / 512, TSurfaceRun::DefaultQueueDepth, [&] {
            if (++polls < 50) return false;
            abortedAt = std::chrono::steady_clock::now();
            return true;
        });
        const auto stopping = std::chrono::steady_clock::now() - abortedAt;
        EXPECT_TRUE(s.result.aborted);
        EXPECT_EQ(s.result.CurrentSector, 49 * 128);
        EXPECT_EQ(s.result.readTimes.Blocks(), 50);
        EXPECT_LT(stopping, std::chrono::seconds(2));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto lines = LogLines(log);
        ASSERT_GT(lines.size(), before);
        int64_t highest = 0;
        for (size_t i = before; i < lines.size(); ++i) highest = std::max<int64_t>(highest, std::stoll(lines[i]));
        // Blocks 0..49 handed over, the window reaching 32 blocks past the last.
        EXPECT_LT(highest, (49 + TSurfaceRun::DefaultQueueDepth + 1) * Block) << "a read beyond the window";
        EXPECT_GE(highest, 49 * Block);
    }
}

TEST_F(InflightReads, ADeviceThatFailsEveryRead) {
    const int64_t size = 4 * Mib;
    devtest::BadFile disk(dir_ / "mnt", size, "0:" + std::to_string(size));
    ASSERT_TRUE(disk.ok()) << "the FUSE helper did not come up";
    devtest::LoopDevice loop(disk.file(), "-r --direct-io=on");
    REQUIRE_ATTACHED(loop);
    for (const Mode& m : Modes) {
        SCOPED_TRACE(m.name);
        linuxbe::LinuxPlatform p(dir_ / "hive.reg");
        p.SetOverlappedMode(m.mode);
        Scan s = ScanDevice(p, loop.node(), size / 512, TSurfaceRun::DefaultQueueDepth);
        EXPECT_EQ(s.result.ErrorCount, 64);
        EXPECT_EQ(s.failed.size(), 64u);
        EXPECT_EQ(s.failed.back(), 63 * 128);
        EXPECT_EQ(s.result.readTimes.Counts()[ReadFailed], 64);
        EXPECT_TRUE(s.result.readTimes.Slow().empty());
        EXPECT_EQ(s.result.CurrentSector, size / 512);
    }
}

// A device whose last block holds 100 sectors: the short read at its end is good.
TEST_F(InflightReads, TheOddSizedTailIsReadGood) {
    const std::string image = dir_ / "odd.img";
    const int64_t size = Mib + 100 * 512;
    devtest::MakeImage(image, size);
    devtest::LoopDevice loop(image, "-r");
    REQUIRE_ATTACHED(loop);
    for (const Mode& m : Modes) {
        SCOPED_TRACE(m.name);
        linuxbe::LinuxPlatform p(dir_ / "hive.reg");
        p.SetOverlappedMode(m.mode);
        Scan s = ScanDevice(p, loop.node(), size / 512, TSurfaceRun::DefaultQueueDepth);
        ExpectMode(s, m, TSurfaceRun::DefaultQueueDepth);
        EXPECT_EQ(s.result.ErrorCount, 0);
        EXPECT_EQ(s.result.readTimes.Blocks(), 17);
        EXPECT_EQ(s.result.CurrentSector, 17 * 128);
    }
}

// A writable loop device over random bytes: every descriptor on it is read-only
// and unbuffered while the reads are in flight, and its content is unchanged.
TEST_F(InflightReads, ReadOnlyOnTheOverlappedPaths) {
    const std::string image = dir_ / "rw.img";
    devtest::MakeImage(image, 8 * Mib);
    for (int64_t at = 0; at < 8 * Mib; at += Mib) devtest::WriteAt(image, at, devtest::Pattern(Mib, static_cast<unsigned>(at)));
    devtest::LoopDevice loop(image);
    REQUIRE_ATTACHED(loop);
    const std::string before = Hash(loop.node());
    ASSERT_EQ(before.size(), 64u);
    for (const Mode& m : Modes) {
        SCOPED_TRACE(m.name);
        linuxbe::LinuxPlatform p(dir_ / "hive.reg");
        p.SetOverlappedMode(m.mode);
        std::vector<int> flags;
        Scan s = ScanDevice(p, loop.node(), 8 * Mib / 512, TSurfaceRun::DefaultQueueDepth, {},
                            [&] { flags = FlagsOfDescriptorsOn(loop.node()); });
        ExpectMode(s, m, TSurfaceRun::DefaultQueueDepth);
        EXPECT_EQ(s.result.ErrorCount, 0);
        ASSERT_FALSE(flags.empty()) << "no descriptor on the device during the run";
        for (int f : flags) {
            EXPECT_EQ(f & O_ACCMODE, O_RDONLY);
            EXPECT_TRUE(f & O_DIRECT);
        }
    }
    EXPECT_EQ(Hash(loop.node()), before);
    EXPECT_EQ(Hash(image), before);
}
