// libFuzzer target: scandor-cli's argument parser and the drive-path readers (drive
// numbers, floppy names, \\.\PhysicalDriveN, the Linux node behind a drive path).
// Arguments are the input's pieces between NUL bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "cli/options.h"
#include "fuzz_check.h"
#include "scratch_dir.h"
#include "platform/drivepath.h"
#include "platform/linux/devicemap.h"

namespace {

// A /sys/block stand-in with three whole disks (sda, sdb, loop0 with a backing
// file), made once per process.
const std::string& SysBlock() {
    static const std::string& dir = *[] {
        const std::string d = ScratchDir() + "/block";
        for (const char* sub : {"", "/sda", "/sdb", "/sda1", "/loop0", "/loop0/loop", "/loop1", "/ram0"})
            ::mkdir((d + sub).c_str(), 0700);
        std::ofstream(d + "/loop0/loop/backing_file") << "/tmp/x.img\n";
        return new std::string(d);
    }();
    return dir;
}

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args = SplitAt(AsText(data, size), '\0');
    if (size == 0) args.clear();

    const cli::Options o = cli::ParseOptions(args);
    if (o.command == cli::Command::None) FUZZ_CHECK(!o.error.empty());
    if (o.error.empty() && o.command == cli::Command::Smart) {
        FUZZ_CHECK(o.driveNumber >= 0 && o.driveNumber <= cli::MaxDriveNumber);
        FUZZ_CHECK(std::to_string(o.driveNumber) == std::to_string(std::atoi(o.target.c_str())));
    }
    if (o.error.empty() && o.command == cli::Command::Surface) FUZZ_CHECK(!o.target.empty() || o.driveNumber < 0);
    if (o.driveNumber >= 0) FUZZ_CHECK(o.driveNumber <= cli::MaxDriveNumber);

    for (const std::string& a : args) {
        int n = -1;
        if (cli::ParseDriveNumber(a, n)) {
            FUZZ_CHECK(AllDigits(a) && n >= 0 && n <= cli::MaxDriveNumber);
            FUZZ_CHECK(n == std::atoi(a.c_str()));
        }
        const char letter = cli::FloppyLetter(a);
        FUZZ_CHECK(letter == 0 || letter == 'A' || letter == 'B');
        if (letter) FUZZ_CHECK(a.size() >= 2 && a.size() <= 7);

        const auto number = platform::PhysicalDriveNumber(a);
        if (number) {
            FUZZ_CHECK(*number >= 0);
            FUZZ_CHECK(platform::PhysicalDriveNumber("\\\\.\\PhysicalDrive" + std::to_string(*number)) == number);
        }
        const auto node = platform::linuxbe::DeviceNodeForPath(a, SysBlock());
        if (node) {
            FUZZ_CHECK(!node->empty() && (*node)[0] == '/');
            if (number) FUZZ_CHECK(*node == "/dev/sda" || *node == "/dev/sdb" || *node == "/dev/loop0");
        }
        if (number && *number < 3) FUZZ_CHECK(node.has_value());
    }
    // Every drive number the command line takes names itself back.
    if (size >= 2) {
        const int n = (data[0] << 8 | data[1]) % (cli::MaxDriveNumber + 1);
        int back = -1;
        FUZZ_CHECK(cli::ParseDriveNumber(std::to_string(n), back) && back == n);
        FUZZ_CHECK(platform::PhysicalDriveNumber("\\\\.\\PHYSICALDRIVE" + std::to_string(n)) == n);
    }
    return 0;
}
