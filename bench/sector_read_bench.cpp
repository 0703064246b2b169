// Reads a whole device through the sector reader, as a surface test does, and
// prints "<bytes> <seconds> <failed blocks>". Driven by read_speed.sh.
#include <chrono>
#include <cstdio>
#include <string>

#include "drive/harddrive.h"
#include "platform/platform.h"
#include "surface/sectorreader.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
        return 2;
    }
    auto platform = platform::CreatePlatformFromEnvironment();
    THardDrive drive(*platform, argv[1]);
    if (!drive.PartitionInfoValid || drive.TotalSectors <= 0) {
        std::fprintf(stderr, "%s: cannot size the device\n", argv[1]);
        return 1;
    }
    TSectorReader reader(*platform);
    if (!reader.Open(argv[1])) {
        std::fprintf(stderr, "%s: cannot open the device\n", argv[1]);
        return 1;
    }
    long long failed = 0, bytes = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (int64_t sector = 0; sector < drive.TotalSectors; sector += SectorsPerRead) {
        if (reader.ReadSectorBlock(sector) != 0) ++failed;
        else bytes += reader.BytesRead;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    reader.Close();
    std::printf("%lld %.6f %lld\n", bytes, seconds, failed);
    return 0;
}
