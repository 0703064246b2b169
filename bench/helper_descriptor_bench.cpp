// The surface scan through a descriptor the helper passed back against the scan of
// a descriptor opened by root itself, on the same drive, passes alternating.
// Prints "root MB/s", "passed MB/s" and their ratio (best pass of each).
// Usage (root): helper_descriptor_bench HELPER NODE [RUNS]. Driven by helper_speed.sh.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/helper/client.h"
#include "platform/linux/devicemap.h"
#include "platform/linux/linux_platform.h"
#include "surface/surfacerun.h"

namespace {

// MB/s of one whole scan, or a negative number when it did not read everything.
double Pass(platform::Platform& p, const std::string& drive, int64_t sectors) {
    TSurfaceRun run(p, SurfaceRunCallbacks{});
    const auto t0 = std::chrono::steady_clock::now();
    const SurfaceRunResult r = run.Run(drive, "bench", sectors);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!r.opened || r.ErrorCount != 0 || r.CurrentSector < sectors) return -1;
    return static_cast<double>(sectors) * 512 / s / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s HELPER NODE [RUNS]\n", argv[0]);
        return 2;
    }
    const std::string helperPath = argv[1], node = argv[2];
    const int runs = argc == 4 ? std::max(1, std::atoi(argv[3])) : 5;
    const auto disks = platform::linuxbe::WholeDisks();
    const auto at = std::find(disks.begin(), disks.end(), node.substr(node.rfind('/') + 1));
    if (at == disks.end()) {
        std::fprintf(stderr, "%s is not a listed disk\n", node.c_str());
        return 1;
    }
    const std::string drive = "\\\\.\\PhysicalDrive" + std::to_string(at - disks.begin());

    platform::linuxbe::LinuxPlatform root("/nonexistent/hive.reg");
    platform::helper::HelperPlatform passed(std::make_unique<platform::linuxbe::LinuxPlatform>("/nonexistent/hive.reg"),
                                            [&] { return platform::helper::SpawnHelper({helperPath}); });
    if (const std::string why = passed.ObtainDriveAccess(); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    const platform::Handle h = root.CreateFile(drive, platform::GENERIC_READ, 0, platform::OPEN_EXISTING, 0);
    platform::PARTITION_INFORMATION info{};
    uint32_t got = 0;
    if (h == platform::InvalidHandle ||
        !root.DeviceIoControl(h, platform::IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, &info, sizeof info, &got)) {
        std::fprintf(stderr, "%s: cannot size the drive\n", drive.c_str());
        return 1;
    }
    root.CloseHandle(h);
    const int64_t sectors = info.PartitionLength / 512;

    double bestRoot = 0, bestPassed = 0;
    for (int i = 0; i < runs; ++i) {
        // Which goes first alternates too, so neither always follows the other.
        double a = 0, b = 0;
        if (i % 2 == 0) {
            a = Pass(root, drive, sectors);
            b = Pass(passed, drive, sectors);
        } else {
            b = Pass(passed, drive, sectors);
            a = Pass(root, drive, sectors);
        }
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "a pass did not read the whole drive\n");
            return 1;
        }
        std::printf("pass %d: root %.0f MB/s, passed descriptor %.0f MB/s\n", i + 1, a, b);
        bestRoot = std::max(bestRoot, a);
        bestPassed = std::max(bestPassed, b);
    }
    std::printf("root %.0f MB/s\npassed %.0f MB/s\nratio %.3f\n", bestRoot, bestPassed, bestPassed / bestRoot);
    return 0;
}
