// Win32_DiskDrive answers of the real machine for an attached loop device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/linux/devicemap.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/wmi.h"
#include "smart/wmiquery.h"
#include "support/tempdir.h"

namespace {

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        std::array<char, 256> buf{};
        while (fgets(buf.data(), buf.size(), p)) out += buf.data();
        ::pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

}  // namespace

TEST(LinuxWmi, ALoopDeviceIsAVirtualDiskNamedAfterItsBackingFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "attaching a loop device needs root";
    if (Shell("command -v losetup").empty()) GTEST_SKIP() << "losetup (util-linux) is missing";
    testsupport::TempDir dir;
    const std::string image = dir / "wmi-disk.img";
    std::ofstream(image).close();
    std::filesystem::resize_file(image, 20 * 1024 * 1024);
    const std::string node = Shell("losetup -f --show -r " + image + " 2>/dev/null");
    if (node.rfind("/dev/loop", 0) != 0) GTEST_SKIP() << "no loop device could be attached here";
    struct Detach {
        std::string node;
        ~Detach() { Shell("losetup -d " + node); }
    } detach{node};

    const auto disks = platform::linuxbe::WholeDisks();
    const std::string name = node.substr(5);
    int number = -1;
    for (size_t i = 0; i < disks.size(); ++i)
        if (disks[i] == name) number = static_cast<int>(i);
    ASSERT_GE(number, 0) << name << " is not listed as a physical drive";

    platform::linuxbe::LinuxPlatform machine;
    const std::string model = wmiquery::GetDriveModel(machine, number);
    EXPECT_NE(model.find(image), std::string::npos) << model;
    std::string text;
    EXPECT_EQ(wmiquery::WmiGetProperty(machine, wmiquery::InterfaceTypeQuery(number), "InterfaceType", text), 1);
    EXPECT_EQ(text, "SCSI");
    EXPECT_EQ(wmiquery::WmiGetProperty(machine, wmiquery::InterfaceTypeQuery(number), "Size", text), 1);
    EXPECT_EQ(text, std::to_string(2ull * 255 * 63 * 512));  // two whole cylinders fit in 20 MiB
    EXPECT_EQ(wmiquery::WmiGetProperty(machine, wmiquery::InterfaceTypeQuery(number), "Capabilities", text), 1);
    EXPECT_EQ(text, "3");  // attached read-only: no writing
    EXPECT_EQ(wmiquery::GetDriveModel(machine, static_cast<int>(disks.size())), "");

    // Every disk of this machine is described, in drive-number order.
    const auto objects = platform::linuxbe::DiskDriveObjects();
    ASSERT_EQ(objects.size(), disks.size());
    for (size_t i = 0; i < objects.size(); ++i) {
        EXPECT_EQ(wmiquery::WmiValueText(*objects[i].Find("Name")), "\\\\.\\PHYSICALDRIVE" + std::to_string(i));
        const std::string type = wmiquery::WmiValueText(*objects[i].Find("InterfaceType"));
        EXPECT_TRUE(type == "IDE" || type == "SCSI" || type == "USB" || type == "1394") << disks[i] << ": " << type;
        EXPECT_NE(wmiquery::WmiValueText(*objects[i].Find("Model")), "NULL") << disks[i];
    }
}
