// Read times of a surface test on simulated drives: the classes, the capped slow
// list, the block map's cells, and the window of reads in flight (order, timing
// estimator, abort, the path without overlapped reads).
#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <set>

#include "platform/forwarding.h"
#include "support/sim.h"
#include "surface/blockmap.h"
#include "surface/readtimes.h"
#include "surface/readwindow.h"
#include "surface/sectorreader.h"
#include "surface/surfacerun.h"

namespace {

const int64_t Block = 65536;

TEST(ReadTimes, ClassBoundsAreExclusiveAboveAndAFailureIsOnlyAFailure) {
    struct Case { uint32_t us; ReadClass c; } cases[] = {
        {0, Under5ms},          {4999, Under5ms},         {5000, Under20ms},     {19999, Under20ms},
        {20000, Under50ms},     {49999, Under50ms},       {50000, Under150ms},   {149999, Under150ms},
        {150000, Under500ms},   {499999, Under500ms},     {500000, AtLeast500ms}, {UINT32_MAX, AtLeast500ms},
    };
    for (const Case& c : cases) EXPECT_EQ(ClassOfRead(false, c.us), c.c) << c.us;
    EXPECT_EQ(ClassOfRead(true, 0), ReadFailed);
    EXPECT_EQ(ClassOfRead(true, 900000), ReadFailed);
    EXPECT_STREQ(ReadClassKey(AtLeast500ms), "atLeast500ms");
    EXPECT_STREQ(ReadClassKey(ReadFailed), "failed");
}

TEST(ReadTimes, SlowListHoldsSuccessfulBlocksOf150msOrMoreUpToItsCap) {
    TReadTimes t;
    t.Add(0, false, 149999);   // 149 ms: not slow
    t.Add(128, false, 150000);
    t.Add(256, true, 900000);  // failed: counted as failed only
    t.Add(384, false, 700000);
    ASSERT_EQ(t.Slow().size(), 2u);
    EXPECT_EQ(t.Slow()[0].sector, 128);
    EXPECT_EQ(t.Slow()[0].ms, 150u);
    EXPECT_EQ(t.Slow()[1].ms, 700u);
    EXPECT_EQ(t.Counts()[ReadFailed], 1);
    EXPECT_EQ(t.Counts()[Under150ms], 1);
    EXPECT_EQ(t.Blocks(), 4);
    EXPECT_FALSE(t.SlowTruncated());
    for (int64_t i = 0; i < 1200; ++i) t.Add(1000 + i * 128, false, 200000);
    EXPECT_EQ(t.Slow().size(), TReadTimes::SlowListCap);
    EXPECT_TRUE(t.SlowTruncated());
    EXPECT_EQ(t.Slow().back().sector, 1000 + (TReadTimes::SlowListCap - 3) * 128) << "the first ones, in order";
    EXPECT_EQ(t.Blocks(), 1204);
}

TEST(BlockMap, CellsCoverEveryBlockOnceWhateverTheSize) {
    for (int64_t blocks : {int64_t{1}, int64_t{7}, int64_t{4095}, int64_t{4096}, int64_t{4097}, int64_t{10001},
                           int64_t{335544320}}) {
        TBlockMap map(blocks);
        ASSERT_EQ(map.CellCount(), std::min<int64_t>(blocks, TBlockMap::DefaultCells)) << blocks;
        int64_t covered = 0;
        for (int c = 0; c < map.CellCount(); ++c) {
            ASSERT_LE(map.FirstBlock(c), map.LastBlock(c)) << blocks << " cell " << c;
            EXPECT_EQ(map.CellOf(map.FirstBlock(c)), c);
            EXPECT_EQ(map.CellOf(map.LastBlock(c)), c);
            if (c > 0) {
                EXPECT_EQ(map.FirstBlock(c), map.LastBlock(c - 1) + 1);
            }
            covered += map.LastBlock(c) - map.FirstBlock(c) + 1;
        }
        EXPECT_EQ(covered, blocks);
        EXPECT_EQ(map.FirstBlock(0), 0);
    }
}

TEST(BlockMap, ACellShowsItsWorstClassAndSlowestSuccessfulRead) {
    TBlockMap map(8192);  // two blocks a cell
    map.Add(10, Under150ms, 60000);
    map.Add(11, Under5ms, 1000);
    map.Add(20, ReadFailed, 900000);
    map.Add(21, Under20ms, 7000);
    EXPECT_EQ(map.At(5).worst, Under150ms);
    EXPECT_EQ(map.At(5).slowestUs, 60000u);
    EXPECT_EQ(map.At(10).worst, ReadFailed);
    EXPECT_EQ(map.At(10).slowestUs, 7000u) << "a failed read's time is no read time";
    EXPECT_EQ(map.At(0).worst, TBlockMap::Unread);
    EXPECT_EQ(map.Counts()[ReadFailed], 1);
    EXPECT_EQ(map.Counts()[Under5ms], 1);
}

std::string Drive(int64_t size, const std::string& extra = "", uint32_t msPerRead = 1) {
    return R"({"clock": {"start": 1000, "msPerRead": )" + std::to_string(msPerRead) +
           R"(}, "drives": [{"path": "\\\\.\\PhysicalDrive0", "size": )" + std::to_string(size) + extra + "}]}";
}

struct Scan {
    SurfaceRunResult result;
    std::vector<std::pair<int64_t, uint32_t>> timed;  // sector, micros, in the order handed over
    std::vector<int64_t> failed;
    std::string mode;
};

Scan RunOn(platform::sim::SimPlatform& m, int64_t endSector, uint32_t depth, int abortOnPoll = -1,
          size_t* submittedAtAbort = nullptr) {
    Scan r;
    int polls = 0;
    SurfaceRunCallbacks cb;
    cb.blockFailed = [&](int64_t, int64_t s) { r.failed.push_back(s); };
    cb.blockTimed = [&](int64_t s, ReadClass, uint32_t us) { r.timed.push_back({s, us}); };
    cb.readMode = [&](const std::string& how) { r.mode = how; };
    cb.abortRequested = [&] {
        if (abortOnPoll < 0 || ++polls < abortOnPoll) return false;
        if (submittedAtAbort) *submittedAtAbort = m.SubmittedReads();
        return true;
    };
    TSurfaceRun run(m, std::move(cb));
    run.QueueDepth = depth;
    r.result = run.Run("\\\\.\\PhysicalDrive0", "DISK", endSector);
    return r;
}

}  // namespace

// Slow blocks on a device that serves one read after the other: each is charged
// its own time, not its neighbours', whatever the depth.
TEST(ReadWindow, ASlowBlockIsChargedToItselfOnlyAtAnyDepth) {
    const std::string extra = R"(, "slow": [{"offset": )" + std::to_string(10 * Block) +
                              R"(, "length": 1, "ms": 300}, {"offset": )" + std::to_string(40 * Block + 100) +
                              R"(, "length": 1, "ms": 700}, {"offset": )" + std::to_string(41 * Block) +
                              R"(, "length": 1, "ms": 60}])";
    for (uint32_t depth : {1u, 4u, 32u}) {
        SCOPED_TRACE(depth);
        auto m = testsupport::Machine(Drive(64 * Block, extra));
        Scan r = RunOn(*m, 64 * 128, depth);
        ASSERT_EQ(r.timed.size(), 64u);
        for (size_t i = 0; i < r.timed.size(); ++i) {
            EXPECT_EQ(r.timed[i].first, static_cast<int64_t>(i) * 128) << "block order";
            const uint32_t want = i == 10 ? 301000u : i == 40 ? 701000u : i == 41 ? 61000u : 1000u;
            EXPECT_EQ(r.timed[i].second, want) << "block " << i;
        }
        const TReadTimes& t = r.result.readTimes;
        ASSERT_EQ(t.Slow().size(), 2u);
        EXPECT_EQ(t.Slow()[0].sector, 1280);
        EXPECT_EQ(t.Slow()[0].ms, 301u);
        EXPECT_EQ(t.Slow()[1].sector, 40 * 128);
        EXPECT_EQ(t.Slow()[1].ms, 701u);
        EXPECT_EQ(t.Counts()[Under150ms], 1);
        EXPECT_EQ(t.Counts()[Under5ms], 61);
        EXPECT_EQ(r.mode, "simulated, " + std::to_string(depth) + (depth == 1 ? " read" : " reads") + " in flight");
        EXPECT_EQ(m->Reads().size(), 64u) << "every block served once";
    }
}

TEST(ReadWindow, FailedBlocksAreExactlyThoseLoggedAndTheReadsAroundGoOn) {
    auto m = testsupport::Machine(Drive(300 * Block, R"(, "unreadable": [{"offset": 65536, "length": 1},
        {"offset": 6553600, "length": 131073}])"));
    Scan r = RunOn(*m, 300 * 128, 32);
    EXPECT_EQ(r.failed, (std::vector<int64_t>{128, 12800, 12928, 13056}));
    EXPECT_EQ(r.result.ErrorCount, 4);
    EXPECT_EQ(r.result.readTimes.Counts()[ReadFailed], 4);
    EXPECT_EQ(r.result.readTimes.Blocks(), 300);
    EXPECT_EQ(r.result.CurrentSector, 300 * 128);
    EXPECT_EQ(m->Reads().size(), 300u) << "no failed block is read twice";
}

// A request the kernel merged from neighbouring reads fails all its blocks at
// once; only the block that cannot be read alone is logged. Neighbours that
// really are bad stay bad, however they came back.
class MergedFailures : public platform::ForwardingPlatform {
public:
    MergedFailures(platform::Platform& inner, std::set<uint64_t> blocks)
        : ForwardingPlatform(inner), blocks_(std::move(blocks)) {}
    bool GetQueuedCompletionStatus(platform::Handle h, platform::ReadCompletion& c) override {
        if (!ForwardingPlatform::GetQueuedCompletionStatus(h, c)) return false;
        if (blocks_.count(c.key)) {
            c.error = 5;  // EIO for the whole request
            c.bytes = 0;
            c.completedUs = 777000;
        }
        return true;
    }

private:
    std::set<uint64_t> blocks_;
};

TEST(ReadWindow, AMergedRequestThatFailedBlamesOnlyTheBlocksThatFailAlone) {
    // Block 41 is bad; the request of blocks 40 to 43 failed as one. Blocks 90 and
    // 91 are both bad and came back together.
    auto m = testsupport::Machine(Drive(200 * Block, R"(, "unreadable": [{"offset": 2686976, "length": 512},
        {"offset": 5898240, "length": 131072}])"));
    for (uint32_t depth : {32u, 4u}) {
        SCOPED_TRACE(depth);
        MergedFailures merged(*m, {40, 41, 42, 43, 90, 91});
        SurfaceRunCallbacks cb;
        std::vector<int64_t> failed;
        cb.blockFailed = [&](int64_t, int64_t s) { failed.push_back(s); };
        TSurfaceRun run(merged, std::move(cb));
        run.QueueDepth = depth;
        const size_t before = m->Reads().size();
        SurfaceRunResult res = run.Run("\\\\.\\PhysicalDrive0", "DISK", 200 * 128);
        EXPECT_EQ(failed, (std::vector<int64_t>{41 * 128, 90 * 128, 91 * 128}));
        EXPECT_EQ(res.ErrorCount, 3);
        EXPECT_EQ(res.readTimes.Counts()[ReadFailed], 3);
        EXPECT_EQ(res.readTimes.Blocks(), 200);
        EXPECT_EQ(m->Reads().size() - before, 206u) << "each block of the failed request read once more";
    }
}

// A device that serves out of order: block 5 (slow) first, then 3 and 4, which
// had waited behind it. The slow time is block 5's, not the first in order's.
class OutOfOrder : public platform::ForwardingPlatform {
public:
    using ForwardingPlatform::ForwardingPlatform;
    bool GetQueuedCompletionStatus(platform::Handle h, platform::ReadCompletion& c) override {
        if (!out_.empty()) {
            c = out_.front();
            out_.erase(out_.begin());
            return true;
        }
        for (;;) {
            if (!ForwardingPlatform::GetQueuedCompletionStatus(h, c)) return false;
            if (c.key == 2) base_ = c.completedUs;
            if (c.key == 3 || c.key == 4) {
                held_.push_back(c);
                continue;
            }
            if (c.key == 5) {
                c.completedUs = base_ + 300000;
                for (platform::ReadCompletion later : held_) {
                    later.completedUs = base_ + 300000 + 100 * (later.key - 2);
                    out_.push_back(later);
                }
            }
            return true;
        }
    }

private:
    uint64_t base_ = 0;
    std::vector<platform::ReadCompletion> held_, out_;
};

TEST(ReadWindow, ADeviceServingOutOfOrderChargesTheSlowBlockNotTheOneBeforeIt) {
    auto m = testsupport::Machine(Drive(40 * Block));
    OutOfOrder reordered(*m);
    SurfaceRunCallbacks cb;
    std::map<int64_t, uint32_t> micros;
    cb.blockTimed = [&](int64_t s, ReadClass, uint32_t us) { micros[s] = us; };
    TSurfaceRun run(reordered, std::move(cb));
    run.QueueDepth = 32;
    SurfaceRunResult res = run.Run("\\\\.\\PhysicalDrive0", "DISK", 40 * 128);
    ASSERT_EQ(res.readTimes.Slow().size(), 1u);
    EXPECT_EQ(res.readTimes.Slow()[0].sector, 5 * 128);
    EXPECT_GE(micros[5 * 128], 299000u);
    EXPECT_LT(micros[3 * 128], 1000u);
    EXPECT_LT(micros[4 * 128], 1000u);
}

// The abort still stops after the current block with the same stop sector;
// nothing is queued once the run has seen it, and the reads ahead that the device
// had not begun are taken back.
TEST(ReadWindow, AbortIssuesNothingMoreAndCancelsTheReadsAhead) {
    auto m = testsupport::Machine(Drive(1000 * Block), ".");
    size_t atAbort = 0;
    Scan r = RunOn(*m, 1000 * 128, 32, 4, &atAbort);
    EXPECT_TRUE(r.result.aborted);
    EXPECT_EQ(r.result.CurrentSector, 3 * 128);
    EXPECT_EQ(m->SubmittedReads(), atAbort) << "a read was queued after the abort";
    EXPECT_LE(atAbort, 4u + 32u);
    EXPECT_GE(m->CancelledReads(), 30u);
    EXPECT_EQ(m->Reads().size(), 4u) << "the device served the blocks up to the aborted one";
    EXPECT_EQ(m->OpenHandleCount(), 0u);
    EXPECT_EQ(r.result.readTimes.Blocks(), 4);
}

TEST(ReadWindow, WithoutOverlappedReadsOneBlockAtATimeGivesTheSameResults) {
    auto m = testsupport::Machine(Drive(20 * Block, R"(, "overlapped": false,
        "unreadable": [{"offset": 131072, "length": 1}])", 7));
    Scan r = RunOn(*m, 20 * 128, 32);
    EXPECT_EQ(r.mode, "one read at a time");
    EXPECT_EQ(r.failed, (std::vector<int64_t>{256}));
    EXPECT_EQ(r.result.readTimes.Counts()[Under20ms], 19);
    EXPECT_EQ(m->SubmittedReads(), 0u);
    EXPECT_EQ(m->Reads().size(), 20u);
}

// The end of the device inside the last block: the short completion is settled by
// the plain read, which counts it good, as it always has.
TEST(ReadWindow, ATailShorterThanABlockIsReadGood) {
    auto m = testsupport::Machine(Drive(1000 * 512));
    Scan r = RunOn(*m, 1000, 32);
    EXPECT_EQ(r.result.ErrorCount, 0);
    EXPECT_EQ(r.result.CurrentSector, 1024);
    EXPECT_EQ(r.result.readTimes.Blocks(), 8);
    EXPECT_EQ(r.result.readTimes.Counts()[Under5ms], 8);
}

TEST(ReadWindow, ManySlowBlocksKeepTheListCappedAndTheCountsWhole) {
    auto m = testsupport::Machine(Drive(1100 * Block, "", 160));
    Scan r = RunOn(*m, 1100 * 128, 8);
    const TReadTimes& t = r.result.readTimes;
    EXPECT_EQ(t.Counts()[Under500ms], 1100);
    EXPECT_EQ(t.Slow().size(), 1000u);
    EXPECT_TRUE(t.SlowTruncated());
    EXPECT_EQ(t.Slow()[999].sector, 999 * 128);
}
