#include <gtest/gtest.h>

#include "drive/format.h"
#include "drive/harddrive.h"
#include "platform/platform.h"
#include "support/sim.h"
#include "surface/surfacerun.h"

namespace {

struct Recorder {
    std::vector<std::string> log, hints, remaining, used;
    std::vector<int> progress;
    std::vector<int64_t> errors, failedSectors;
    int pumps = 0;
    int abortAfterPolls = -1;  // -1: never
    int polls = 0;

    SurfaceRunCallbacks Callbacks() {
        SurfaceRunCallbacks cb;
        cb.pump = [this] { ++pumps; };
        cb.log = [this](const std::string& s) { log.push_back(s); };
        cb.blockFailed = [this](int64_t n, int64_t sector) { errors.push_back(n); failedSectors.push_back(sector); };
        cb.progress = [this](int p) { progress.push_back(p); };
        cb.trayHint = [this](const std::string& s) { hints.push_back(s); };
        cb.remainingTime = [this](const std::string& s) { remaining.push_back(s); };
        cb.usedTime = [this](const std::string& s) { used.push_back(s); };
        cb.abortRequested = [this] { return abortAfterPolls >= 0 && ++polls > abortAfterPolls; };
        return cb;
    }
};

std::string Drive(int64_t size, const std::string& extra = "") {
    return R"({"clock": {"start": 1000, "msPerRead": 20}, "drives": [{"path": "\\\\.\\PhysicalDrive0", "size": )" +
           std::to_string(size) + extra + "}]}";
}

}  // namespace

TEST(SurfaceRun, ReadsWholeBlocksFromSectorZeroWhileTheirStartIsBelowTheEnd) {
    auto m = testsupport::Machine(Drive(1000 * 512));
    Recorder r;
    TSurfaceRun run(*m, r.Callbacks());
    auto res = run.Run("\\\\.\\PhysicalDrive0", "DISK", 1000);
    ASSERT_TRUE(res.opened);
    // The last block crosses the end of the device: its short read in flight is
    // settled by a plain read of the block, which counts it good.
    EXPECT_EQ(m->Reads(), (std::vector<int64_t>{0, 65536, 131072, 196608, 262144, 327680, 393216, 458752, 458752}));
    EXPECT_EQ(res.CurrentSector, 1024);
    EXPECT_EQ(res.ErrorCount, 0);
    EXPECT_FALSE(res.aborted);
    EXPECT_EQ(r.progress.back(), 89);
    EXPECT_EQ(r.progress.front(), 0);
    EXPECT_TRUE(r.log.empty());
    EXPECT_EQ(m->OpenHandleCount(), 0u) << "the drive is closed after the run";
    ASSERT_EQ(m->Opens().size(), 1u);
    EXPECT_EQ(m->Opens()[0].access, platform::GENERIC_READ);
}

TEST(SurfaceRun, OneBlockForEndSector128) {
    auto m = testsupport::Machine(Drive(128 * 512));
    Recorder r;
    auto res = TSurfaceRun(*m, r.Callbacks()).Run("\\\\.\\PhysicalDrive0", "DISK", 128);
    EXPECT_EQ(m->Reads().size(), 1u);
    EXPECT_EQ(r.progress, std::vector<int>{0});
    EXPECT_EQ(res.CurrentSector, 128);
}

TEST(SurfaceRun, EachFailedBlockCountsOnceAndLogsItsFirstSector) {
    // Two bad bytes in block 16 (sectors 2048..2175), a bad range across blocks 20 and 21.
    auto m = testsupport::Machine(Drive(4096 * 512, R"(, "unreadable": [
        {"offset": 1048576, "length": 1}, {"offset": 1049000, "length": 1},
        {"offset": 1376256, "length": 65537}])"));
    Recorder r;
    auto res = TSurfaceRun(*m, r.Callbacks()).Run("\\\\.\\PhysicalDrive0", "DISK", 4096);
    EXPECT_EQ(res.ErrorCount, 3);
    EXPECT_EQ(r.log, (std::vector<std::string>{"Sector Error @: 2048", "Sector Error @: 2688",
                                               "Sector Error @: 2816"}));
    EXPECT_EQ(r.errors, (std::vector<int64_t>{1, 2, 3}));
    EXPECT_EQ(r.failedSectors, (std::vector<int64_t>{2048, 2688, 2816}));
    EXPECT_EQ(res.CurrentSector, 4096);
}

TEST(SurfaceRun, AbortInTheFirstBlockStopsAfterItWithoutTimeRefresh) {
    auto m = testsupport::Machine(Drive(100000 * 512));
    Recorder r;
    r.abortAfterPolls = 0;
    auto res = TSurfaceRun(*m, r.Callbacks()).Run("\\\\.\\PhysicalDrive0", "DISK", 100000);
    EXPECT_TRUE(res.aborted);
    EXPECT_EQ(res.CurrentSector, 0);
    EXPECT_EQ(m->Reads().size(), 1u);
    EXPECT_TRUE(r.remaining.empty());
    EXPECT_TRUE(r.used.empty());
    EXPECT_EQ(m->OpenHandleCount(), 0u);
}

TEST(SurfaceRun, AbortLaterKeepsTheFirstSectorOfTheLastBlockRead) {
    auto m = testsupport::Machine(Drive(100000 * 512));
    Recorder r;
    r.abortAfterPolls = 3;
    auto res = TSurfaceRun(*m, r.Callbacks()).Run("\\\\.\\PhysicalDrive0", "DISK", 100000);
    EXPECT_EQ(res.CurrentSector, 3 * 128);
    EXPECT_EQ(m->Reads().size(), 4u);
}

TEST(SurfaceRun, TimesRefreshAtMultiplesOf16000WithTheFirstEstimate) {
    auto m = testsupport::Machine(Drive(40000 * 512));
    Recorder r;
    TSurfaceRun run(*m, r.Callbacks());
    run.Run("\\\\.\\PhysicalDrive0", "DISK", 40000);
    // Refreshes after the blocks at 0, 16000 and 32000.
    ASSERT_EQ(r.remaining.size(), 3u);
    ASSERT_EQ(r.used.size(), 3u);
    // First estimate: 20 ms elapsed x 40000 sectors / 1 / 1000 = 800 s.
    EXPECT_EQ(r.remaining[0], "13 min");
    EXPECT_EQ(r.used[0], "0 sec");
    // At 16000: 126 blocks read, 2520 ms; 2520 * 24000 / 16001 / 1000 = 3.78 s.
    EXPECT_EQ(r.remaining[1], "<1 min");
    EXPECT_EQ(r.used[1], "2 sec");
    EXPECT_EQ(run.LastTick - run.StartTick, 251u * 20u);
}

TEST(SurfaceRun, ShortRangesOnlyRefreshAfterTheFirstBlock) {
    auto m = testsupport::Machine(Drive(15999 * 512));
    Recorder r;
    TSurfaceRun(*m, r.Callbacks()).Run("\\\\.\\PhysicalDrive0", "DISK", 15999);
    EXPECT_EQ(r.remaining.size(), 1u);
}

TEST(SurfaceRun, ADriveThatCannotBeOpenedReadsNothing) {
    auto m = testsupport::Machine(Drive(1000 * 512, R"(, "failOpen": 13)"));
    Recorder r;
    auto res = TSurfaceRun(*m, r.Callbacks()).Run("\\\\.\\PhysicalDrive0", "DISK", 1000);
    EXPECT_FALSE(res.opened);
    EXPECT_EQ(res.openError, "Permission denied");
    EXPECT_TRUE(m->Reads().empty());
    EXPECT_TRUE(r.progress.empty());
}

TEST(SurfaceRun, TrayHintAndEstimateFormulas) {
    EXPECT_EQ(TSurfaceRun::TrayHint("DISK 1.00 GBytes ", 50, 128),
              "DISK 1.00 GBytes \r @: 50%\r @ sector: 128\r" + FormatSize(65536) + " tested.");
    EXPECT_EQ(TSurfaceRun::Progress(896, 1000), 89);
    EXPECT_EQ(TSurfaceRun::Progress(0, 128), 0);
    EXPECT_EQ(TSurfaceRun::Progress(999, 1000), 99);
    // Past 2^53 sectors the quotient still truncates correctly in extended precision.
    EXPECT_EQ(TSurfaceRun::Progress((int64_t(1) << 60) - 1, int64_t(1) << 60), 99);
    EXPECT_EQ(TSurfaceRun::RemainingSeconds(20, 0, 40000), 800);
    EXPECT_EQ(TSurfaceRun::RemainingSeconds(1000, 1, 4), 2) << "1.5 rounds to the even 2";
    EXPECT_EQ(TSurfaceRun::RemainingSeconds(1000, 1, 6), 2) << "2.5 rounds to the even 2";
    EXPECT_EQ(TSurfaceRun::RemainingSeconds(-5, 0, 1000), -5) << "a clock that went back gives no crash";
}

// A drive that goes mid-run (unplugged, detached, cut to 0 bytes) once read as an
// end of the device, or as one bad block after another.
TEST(SurfaceRun, ADriveThatVanishesStopsTheRunThereWithOneLine) {
    auto m = testsupport::Machine(Drive(1024 * 512, R"(, "vanishAfterReads": 3)"));
    Recorder r;
    auto res = TSurfaceRun(*m, r.Callbacks()).Run("\\\\.\\PhysicalDrive0", "DISK", 1024);
    ASSERT_TRUE(res.opened);
    EXPECT_TRUE(res.vanished);
    EXPECT_FALSE(res.aborted);
    EXPECT_EQ(res.CurrentSector, 384);
    EXPECT_EQ(res.ErrorCount, 1);
    EXPECT_EQ(r.failedSectors, (std::vector<int64_t>{384}));
    EXPECT_EQ(r.log, (std::vector<std::string>{"Drive vanished at sector 384: No such device or address"}));
    EXPECT_EQ(m->Reads().size(), 4u) << "nothing is read after the drive went";
    EXPECT_EQ(m->OpenHandleCount(), 0u);
}

TEST(SurfaceRun, APathThatNowLeadsToAnotherDiskIsNotRead) {
    auto m = testsupport::Machine(R"({"drives": [
        {"path": "\\\\.\\PhysicalDrive0", "size": 1048576},
        {"path": "\\\\.\\PhysicalDrive1", "size": 1048576}]})");
    const THardDrive first(*m, "\\\\.\\PhysicalDrive0");
    const THardDrive second(*m, "\\\\.\\PhysicalDrive1");
    ASSERT_TRUE(first.Identity.known);
    ASSERT_FALSE(first.Identity.SameDisk(second.Identity));
    ASSERT_TRUE(m->RemoveDrive("\\\\.\\PhysicalDrive0"));  // drive 1 is now number 0
    Recorder r;
    TSurfaceRun run(*m, r.Callbacks());
    auto moved = run.Run("\\\\.\\PhysicalDrive0", "DISK", 2048, &first.Identity);
    EXPECT_FALSE(moved.opened);
    EXPECT_TRUE(moved.wrongDisk);
    EXPECT_TRUE(m->Reads().empty());
    // Under its new number the second disk is read, and the run names its node.
    auto same = run.Run("\\\\.\\PhysicalDrive0", "DISK", 2048, &second.Identity);
    EXPECT_TRUE(same.opened);
    EXPECT_FALSE(same.wrongDisk);
    EXPECT_EQ(same.node, "/dev/simdisk2");
    EXPECT_EQ(m->OpenHandleCount(), 0u);
}
