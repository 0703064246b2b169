#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "surface/sectorreader.h"
#include "support/sim.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

const std::string Disk = "\\\\.\\PhysicalDrive0";

// A sparse image with a distinct byte pattern in the places the tests read.
class SectorReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("scandor-sr-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        image_ = (dir_ / "disk.img").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void WriteAt(std::fstream& f, int64_t offset, const std::vector<uint8_t>& bytes) {
        f.seekp(offset);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
        std::vector<uint8_t> v(n);
        for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
        return v;
    }
    void MakeImage(int64_t size) {
        std::ofstream(image_, std::ios::binary).close();
        fs::resize_file(image_, static_cast<uintmax_t>(size));
    }
    std::unique_ptr<sim::SimPlatform> Machine(const std::string& driveExtra) {
        return testsupport::Machine(R"({"clock": {"start": 1000, "msPerRead": 40}, "drives": [{"path": "\\\\.\\PhysicalDrive0", "image": "disk.img")" +
                                        driveExtra + "}]}",
                                    dir_.string());
    }

    fs::path dir_;
    std::string image_;
};

}  // namespace

TEST_F(SectorReaderTest, OpensReadOnlyWithSharedAccessAndClosesOnEveryPath) {
    MakeImage(1 << 20);
    auto m = Machine("");
    {
        TSectorReader r(*m);
        ASSERT_TRUE(r.Open(Disk));
        ASSERT_EQ(m->Opens().size(), 1u);
        EXPECT_EQ(m->Opens()[0].access, GENERIC_READ);
        EXPECT_EQ(m->Opens()[0].share, FILE_SHARE_READ | FILE_SHARE_WRITE);
        EXPECT_EQ(m->Opens()[0].creation, OPEN_EXISTING);
        EXPECT_EQ(r.ReadBufferSize, 65536u);
        ASSERT_NE(r.ReadBuffer, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(r.ReadBuffer) % 4096, 0u);
        r.Close();
        EXPECT_EQ(r.ReadBuffer, nullptr);
        EXPECT_EQ(m->OpenHandleCount(), 0u);
        ASSERT_TRUE(r.Open(Disk));
        EXPECT_EQ(m->OpenHandleCount(), 1u);
    }  // an aborted run: the destructor closes
    EXPECT_EQ(m->OpenHandleCount(), 0u);

    auto refused = Machine(R"(, "failOpen": 13)");
    TSectorReader r(*refused);
    EXPECT_FALSE(r.Open(Disk));
    EXPECT_FALSE(r.IsOpen());
    EXPECT_EQ(r.ReadBuffer, nullptr);
    EXPECT_EQ(r.ReadBufferSize, 0u);
    EXPECT_FALSE(r.Open("\\\\.\\PhysicalDrive9"));
}

TEST_F(SectorReaderTest, ReadsTheBlockAtTheSectorAlsoBeyondFourGiB) {
    const int64_t high = int64_t{8388608} * 512;  // 4 GiB: the high half is 1
    MakeImage(high + 2 * 65536);
    auto first = Pattern(65536, 1), far = Pattern(65536, 99), next = Pattern(512, 5);
    {
        std::fstream f(image_, std::ios::in | std::ios::out | std::ios::binary);
        WriteAt(f, 0, first);
        WriteAt(f, high, far);
        WriteAt(f, 65536, next);
    }
    auto m = Machine("");
    TSectorReader r(*m);
    ASSERT_TRUE(r.Open(Disk));
    ASSERT_EQ(r.ReadSectorBlock(0), 0);
    EXPECT_EQ(r.BytesRead, 65536u);
    EXPECT_EQ(std::memcmp(r.ReadBuffer, first.data(), 65536), 0);
    ASSERT_EQ(r.ReadSectorBlock(8388608), 0);
    EXPECT_EQ(std::memcmp(r.ReadBuffer, far.data(), 65536), 0);
    ASSERT_EQ(r.ReadSectorBlock(128), 0);
    EXPECT_EQ(std::memcmp(r.ReadBuffer, next.data(), 512), 0);
    EXPECT_EQ(m->Reads(), (std::vector<int64_t>{0, high, 65536}));
    // every read is one tick step of the virtual clock
    EXPECT_EQ(m->GetTickCount(), 1000u + 3 * 40);
}

TEST_F(SectorReaderTest, FailedBlocksGiveOneAndLeaveTheReaderUsable) {
    MakeImage(4 * 65536);
    // the last sector of block 1, one byte at the very start of block 3
    auto m = Machine(R"(, "unreadable": [{"offset": 130560, "length": 512}, {"offset": 196608, "length": 1}])");
    TSectorReader r(*m);
    ASSERT_TRUE(r.Open(Disk));
    std::vector<int32_t> status;
    for (int64_t s = 0; s < 4 * 128; s += 128) status.push_back(r.ReadSectorBlock(s));
    EXPECT_EQ(status, (std::vector<int32_t>{0, 1, 0, 1}));
    // a block only partly over a bad range fails as a whole, from either side
    EXPECT_EQ(r.ReadSectorBlock(200), 1);
    EXPECT_EQ(r.ReadSectorBlock(255), 1);
    EXPECT_EQ(r.ReadSectorBlock(256), 0);  // ends exactly where block 3's bad byte starts
    EXPECT_EQ(r.ReadSectorBlock(257), 1);
}

TEST_F(SectorReaderTest, ShortReadAtTheEndIsGoodAndPositioningErrorsAreReturned) {
    MakeImage(100 * 512);
    auto m = Machine("");
    TSectorReader r(*m);
    ASSERT_TRUE(r.Open(Disk));
    EXPECT_EQ(r.ReadSectorBlock(0), 0);
    EXPECT_EQ(r.BytesRead, 100u * 512);
    EXPECT_EQ(r.ReadSectorBlock(128), 0);  // past the end: nothing, but no error
    EXPECT_EQ(r.BytesRead, 0u);
    // A negative offset cannot be positioned: the platform's error comes back
    // and no read is attempted.
    const size_t reads = m->Reads().size();
    EXPECT_EQ(r.ReadSectorBlock(-1), 22);
    EXPECT_EQ(m->Reads().size(), reads);
}

TEST_F(SectorReaderTest, ReadErrorCodeDoesNotLeakIntoTheStatus) {
    MakeImage(65536);
    auto m = Machine(R"(, "unreadable": [{"offset": 0, "length": 1}], "readError": 23)");
    TSectorReader r(*m);
    ASSERT_TRUE(r.Open(Disk));
    EXPECT_EQ(r.ReadSectorBlock(0), 1);
    EXPECT_EQ(m->GetLastError(), 23u);
}
