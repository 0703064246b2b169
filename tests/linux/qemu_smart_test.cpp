// The Linux SMART pass-through against a real emulated drive: QEMU's AHCI disk
// (software emulation) booting the installed Debian kernel with a busybox
// initramfs that runs the probe program, which uses the Linux platform.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// 36 characters: more than the 16 of the SCSI INQUIRY field sysfs shows.
const char* Model = "SCANDOR EMULATED AHCI TEST DISK 4096";
const char* Serial = "SCN-0042";
constexpr int64_t ImageBytes = 64LL << 20;

std::string Find(const char* program) {
    for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
        std::string p = std::string(dir) + program;
        if (access(p.c_str(), X_OK) == 0) return p;
    }
    return {};
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string item;
    while (std::getline(ss, item, '|')) f.push_back(item);
    if (!line.empty() && line.back() == '|') f.push_back("");
    return f;
}

struct GuestRun {
    std::string log;
    std::vector<std::string> identify, smart, scsi, wmi;
    std::vector<std::vector<std::string>> attrs;
    bool ended = false;
};

class QemuSmart : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        run_ = new GuestRun;
        const std::string qemu = Find("qemu-system-x86_64");
        if (qemu.empty()) {
            skip_ = "qemu-system-x86_64 is not installed";
            return;
        }
        std::string kernel, kver;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator("/boot", ec)) {
            std::string name = e.path().filename().string();
            if (name.rfind("vmlinuz-", 0) == 0 && fs::exists("/lib/modules/" + name.substr(8) + "/modules.dep")) {
                kernel = e.path().string();
                kver = name.substr(8);
            }
        }
        if (kernel.empty() || access(kernel.c_str(), R_OK) != 0) {
            skip_ = "no readable /boot/vmlinuz-* with its modules (package linux-image-amd64)";
            return;
        }
        if (Find("busybox").empty()) {
            skip_ = "busybox is not installed (package busybox-static)";
            return;
        }
        const fs::path dir = fs::path(SCANDOR_BINARY_DIR) / "qemu-smart";
        fs::create_directories(dir);
        const fs::path initrd = dir / "initrd.cpio.gz";
        const fs::path image = dir / "disk.img";
        const fs::path log = dir / "serial.log";
        const fs::path script = fs::path(SCANDOR_TEST_DATA).parent_path() / "linux/qemu/build-initramfs.sh";
        const fs::path probe = fs::path(SCANDOR_BINARY_DIR) / "tests/scandor_smart_probe";

        std::string build = "bash '" + script.string() + "' '" + initrd.string() + "' '" + probe.string() +
                            "' '" + kver + "' > '" + (dir / "initrd.log").string() + "' 2>&1";
        if (std::system(build.c_str()) != 0) {
            failure_ = "building the initramfs failed, see " + (dir / "initrd.log").string();
            return;
        }
        fs::remove(image);
        { std::ofstream(image.string()); }
        fs::resize_file(image, ImageBytes);

        // Software emulation only: the test must not depend on KVM.
        std::string cmd = "timeout 300 '" + qemu + "' -nodefaults -machine pc,accel=tcg -m 512 -display none"
                          " -no-reboot -serial 'file:" + log.string() + "'"
                          " -kernel '" + kernel + "' -initrd '" + initrd.string() + "'"
                          " -append 'console=ttyS0 panic=-1 loglevel=3'"
                          " -drive 'if=none,id=d0,format=raw,file=" + image.string() + "'"
                          " -device ahci,id=ahci"
                          " -device 'ide-hd,drive=d0,bus=ahci.0,model=" + Model + ",serial=" + Serial + "'"
                          " > '" + (dir / "qemu.log").string() + "' 2>&1";
        int rc = std::system(cmd.c_str());
        std::ifstream in(log);
        std::stringstream ss;
        ss << in.rdbuf();
        run_->log = ss.str();
        if (rc != 0 && run_->log.empty()) {
            std::ifstream q(dir / "qemu.log");
            std::stringstream qs;
            qs << q.rdbuf();
            if (qs.str().find("Could not") != std::string::npos || qs.str().find("failed to initialize") != std::string::npos)
                skip_ = "qemu cannot run here: " + qs.str().substr(0, 300);
            else
                failure_ = "qemu exited with " + std::to_string(rc) + ": " + qs.str().substr(0, 500);
            return;
        }
        std::istringstream lines(run_->log);
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            auto f = Split(line);
            if (f.empty()) continue;
            if (f[0] == "IDENTIFY") run_->identify = f;
            else if (f[0] == "SMART") run_->smart = f;
            else if (f[0] == "ATTR") run_->attrs.push_back(f);
            else if (f[0] == "SCSI") run_->scsi = f;
            else if (f[0] == "WMI") run_->wmi = f;
            else if (f[0] == "PROBE-END") run_->ended = true;
        }
    }
    static void TearDownTestSuite() {
        delete run_;
        run_ = nullptr;
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(failure_.empty()) << failure_;
        ASSERT_TRUE(run_->ended) << "the probe did not finish; guest console:\n" << run_->log;
    }
    static GuestRun* run_;
    static std::string skip_, failure_;
};

GuestRun* QemuSmart::run_ = nullptr;
std::string QemuSmart::skip_;
std::string QemuSmart::failure_;

}  // namespace

TEST_F(QemuSmart, IdentifyGivesModelSerialAndCapacity) {
    ASSERT_EQ(run_->identify.size(), 6u) << run_->log;
    EXPECT_EQ(run_->identify[1], "1") << run_->identify[5];
    EXPECT_EQ(run_->identify[2], Model);
    EXPECT_EQ(run_->identify[3], Serial);
    EXPECT_EQ(run_->identify[4], std::to_string(ImageBytes));
}

TEST_F(QemuSmart, ReadSmartDataGivesTheAttributesQemuServes) {
    ASSERT_EQ(run_->smart.size(), 11u) << run_->log;
    EXPECT_EQ(run_->smart[1], "1") << run_->smart[10];
    EXPECT_EQ(run_->smart[2], "0");  // position 0
    EXPECT_EQ(run_->smart[3], Model);
    EXPECT_EQ(run_->smart[4], Serial);
    EXPECT_FALSE(run_->smart[5].empty());  // QEMU's version as firmware revision
    EXPECT_EQ(run_->smart[6], std::to_string(ImageBytes));
    std::vector<int> ids;
    for (const auto& a : run_->attrs) ids.push_back(std::stoi(a[1]));
    EXPECT_EQ(ids, (std::vector<int>{1, 3, 4, 5, 9, 12, 190}));
    EXPECT_EQ(run_->smart[7], std::to_string(ids.size()));
    // QEMU's table: all at 100 except the airflow temperature (69, threshold 50, raw
    // bytes 1F 00 1F 1F); start/stop count is advisory. Rated: 190 is below its
    // warning limit 50 + (100 - 50) / 2 = 75.
    const std::map<int, std::vector<std::string>> want = {
        {1, {"1", "100", "100", "6", "OK"}},   {3, {"1", "100", "100", "0", "-"}},
        {4, {"0", "100", "100", "20", "-"}},   {5, {"1", "100", "100", "36", "OK"}},
        {9, {"1", "100", "100", "0", "-"}},    {12, {"1", "100", "100", "0", "-"}},
        {190, {"1", "69", "69", "50", "Warning"}},
    };
    for (const auto& a : run_->attrs) {
        ASSERT_EQ(a.size(), 8u);
        const int id = std::stoi(a[1]);
        SCOPED_TRACE(id);
        ASSERT_TRUE(want.count(id));
        const auto& w = want.at(id);
        EXPECT_EQ((std::vector<std::string>{a[2], a[3], a[4], a[5], a[7]}), w);
    }
    EXPECT_EQ(run_->attrs.back()[6], std::to_string(0x1F1F001F));
    EXPECT_EQ(run_->smart[8], "0");  // failed
    EXPECT_EQ(run_->smart[9], "1");  // warnings
    EXPECT_EQ(run_->smart[10], "");  // no error text
}

TEST_F(QemuSmart, ScsiInquiryReadsTheSerialNumberPage) {
    ASSERT_EQ(run_->scsi.size(), 4u) << run_->log;
    EXPECT_EQ(run_->scsi[1], "1") << run_->scsi[3];
    EXPECT_EQ(run_->scsi[2], Serial);
}

// sysfs holds the 16-byte INQUIRY model ("SCANDOR EMULATED"); the drive lists
// caption the drive with its whole IDENTIFY model. The guest runs no udev daemon.
TEST_F(QemuSmart, TheWmiModelIsTheWholeIdentifyModel) {
    ASSERT_EQ(run_->wmi.size(), 2u) << run_->log;
    EXPECT_EQ(std::string(Model).size(), 36u);
    EXPECT_EQ(run_->wmi[1], Model);
}
