// The NVMe road against QEMU's emulated NVMe controller (software emulation),
// booting the installed Debian kernel: scandor-cli and Debian's nvme-cli run in
// the same guest on the same namespace, and their health logs must agree.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const char* Serial = "SCN-NVME-7";
constexpr int64_t ImageBytes = 64LL << 20;

std::string Find(const char* program) {
    for (const char* dir : {"/usr/bin/", "/usr/sbin/", "/usr/local/bin/", "/bin/", "/sbin/"}) {
        std::string p = std::string(dir) + program;
        if (access(p.c_str(), X_OK) == 0) return p;
    }
    return {};
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct Guest {
    std::string log;
    json list, cli, nvme;
    int listExit = -1, cliExit = -1, nvmeExit = -1;
    bool ended = false;
};

// nvme-cli writes the 128-bit counters as decimal text, the others as numbers.
uint64_t Number(const json& v) {
    if (v.is_string()) return std::stoull(v.get<std::string>());
    return v.get<uint64_t>();
}

// The console text between "NAME-START" and "NAME-EXIT n", parsed as JSON.
void Section(const std::string& log, const std::string& name, json& doc, int& exitCode) {
    const std::string start = name + "-START", end = name + "-EXIT ";
    const size_t a = log.find(start);
    const size_t b = log.find(end, a == std::string::npos ? 0 : a);
    if (a == std::string::npos || b == std::string::npos) return;
    const std::string body = log.substr(a + start.size(), b - a - start.size());
    const size_t open = body.find('{');
    const size_t close = body.rfind('}');
    if (open != std::string::npos && close != std::string::npos && close > open)
        doc = json::parse(body.substr(open, close - open + 1), nullptr, false);
    exitCode = std::atoi(log.c_str() + b + end.size());
}

class QemuNvme : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string qemu = Find("qemu-system-x86_64");
        if (qemu.empty()) {
            skip_ = "qemu-system-x86_64 is not installed";
            return;
        }
        if (Find("nvme").empty()) {
            skip_ = "nvme-cli is not installed (package nvme-cli)";
            return;
        }
        if (Find("busybox").empty()) {
            skip_ = "busybox is not installed (package busybox-static)";
            return;
        }
        std::string kernel, kver;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator("/boot", ec)) {
            const std::string name = e.path().filename().string();
            if (name.rfind("vmlinuz-", 0) == 0 && fs::exists("/lib/modules/" + name.substr(8) + "/modules.dep")) {
                kernel = e.path().string();
                kver = name.substr(8);
            }
        }
        if (kernel.empty() || access(kernel.c_str(), R_OK) != 0) {
            skip_ = "no readable /boot/vmlinuz-* with its modules (package linux-image-amd64)";
            return;
        }
        const fs::path dir = fs::path(SCANDOR_BINARY_DIR) / "qemu-nvme";
        fs::create_directories(dir);
        const fs::path initrd = dir / "initrd.cpio.gz";
        const fs::path script = fs::path(SCANDOR_TEST_DATA).parent_path() / "linux/qemu/build-nvme-initramfs.sh";
        const std::string build = "bash '" + script.string() + "' '" + initrd.string() + "' '" SCANDOR_CLI "' '" +
                                  kver + "' > '" + (dir / "initrd.log").string() + "' 2>&1";
        if (std::system(build.c_str()) != 0) {
            failure_ = "building the initramfs failed, see " + (dir / "initrd.log").string();
            return;
        }
        Boot(qemu, kernel, initrd, dir, "healthy", "", healthy_);
        if (failure_.empty() && skip_.empty()) Boot(qemu, kernel, initrd, dir, "failing", ",smart_critical_warning=4", failing_);
    }

    static void Boot(const std::string& qemu, const std::string& kernel, const fs::path& initrd, const fs::path& dir,
                     const std::string& name, const std::string& extra, Guest& g) {
        const fs::path image = dir / (name + ".img");
        const fs::path log = dir / (name + "-serial.log");
        fs::remove(image);
        fs::remove(log);
        { std::ofstream(image.string()); }
        fs::resize_file(image, ImageBytes);
        // Software emulation only: the test must not depend on KVM.
        const std::string cmd = "timeout 300 '" + qemu + "' -nodefaults -machine pc,accel=tcg -m 512 -display none"
                                " -no-reboot -serial 'file:" + log.string() + "'"
                                " -kernel '" + kernel + "' -initrd '" + initrd.string() + "'"
                                " -append 'console=ttyS0 panic=-1 loglevel=3'"
                                " -drive 'if=none,id=n0,format=raw,file=" + image.string() + "'"
                                " -device 'nvme,drive=n0,serial=" + Serial + extra + "'"
                                " > '" + (dir / (name + "-qemu.log")).string() + "' 2>&1";
        const int rc = std::system(cmd.c_str());
        g.log = ReadAll(log);
        if (rc != 0 && g.log.empty()) {
            const std::string q = ReadAll(dir / (name + "-qemu.log"));
            if (q.find("Could not") != std::string::npos || q.find("failed to initialize") != std::string::npos)
                skip_ = "qemu cannot run here: " + q.substr(0, 300);
            else
                failure_ = "qemu exited with " + std::to_string(rc) + ": " + q.substr(0, 500);
            return;
        }
        g.ended = g.log.find("PROBE-END") != std::string::npos;
        Section(g.log, "LIST", g.list, g.listExit);
        Section(g.log, "CLI", g.cli, g.cliExit);
        Section(g.log, "NVME", g.nvme, g.nvmeExit);
    }

    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(failure_.empty()) << failure_;
        ASSERT_TRUE(healthy_.ended) << "the healthy guest did not finish:\n" << healthy_.log;
        ASSERT_TRUE(failing_.ended) << "the failing guest did not finish:\n" << failing_.log;
    }

    // Every health field of scandor-cli's "nvme" object against nvme-cli's smart-log.
    static void ExpectSameHealth(const Guest& g) {
        ASSERT_EQ(g.nvmeExit, 0) << g.log;
        ASSERT_TRUE(g.cli.is_object() && g.cli.contains("nvme")) << g.log;
        ASSERT_TRUE(g.nvme.is_object()) << g.log;
        const json& ours = g.cli["nvme"];
        const json& ref = g.nvme;
        struct Same { const char* ours; const char* ref; };
        const Same exact[] = {
            {"criticalWarning", "critical_warning"},
            {"availableSpare", "avail_spare"},
            {"availableSpareThreshold", "spare_thresh"},
            {"percentageUsed", "percent_used"},
            {"enduranceGroupCriticalWarning", "endurance_grp_critical_warning_summary"},
            {"controllerBusyTime", "controller_busy_time"},
            {"powerCycles", "power_cycles"},
            {"powerOnHours", "power_on_hours"},
            {"unsafeShutdowns", "unsafe_shutdowns"},
            {"mediaErrors", "media_errors"},
            {"errorLogEntries", "num_err_log_entries"},
            {"warningTemperatureTime", "warning_temp_time"},
            {"criticalTemperatureTime", "critical_comp_time"},
        };
        for (const Same& s : exact) {
            SCOPED_TRACE(s.ours);
            ASSERT_TRUE(ref.contains(s.ref)) << ref.dump();
            EXPECT_EQ(ours[s.ours].get<uint64_t>(), Number(ref[s.ref]));
        }
        // nvme-cli gives kelvin.
        EXPECT_EQ(ours["temperature"].get<int>(), ref["temperature"].get<int>() - 273);
        json sensors = json::array();
        for (int i = 1; i <= 8; ++i) {
            const std::string key = "temperature_sensor_" + std::to_string(i);
            if (ref.contains(key) && ref[key].get<int>() != 0) sensors.push_back(ref[key].get<int>() - 273);
        }
        EXPECT_EQ(ours["temperatureSensors"], sensors);
        // Counters that the I/O between the two reads may move: nvme-cli read second.
        const Same moving[] = {
            {"dataUnitsRead", "data_units_read"}, {"dataUnitsWritten", "data_units_written"},
            {"hostReadCommands", "host_read_commands"}, {"hostWriteCommands", "host_write_commands"},
        };
        for (const Same& s : moving) {
            SCOPED_TRACE(s.ours);
            ASSERT_TRUE(ref.contains(s.ref)) << ref.dump();
            const uint64_t a = ours[s.ours].get<uint64_t>(), b = Number(ref[s.ref]);
            EXPECT_LE(a, b);
            EXPECT_LE(b - a, 64u);
        }
    }

    static std::string skip_, failure_;
    static Guest healthy_, failing_;
};

std::string QemuNvme::skip_;
std::string QemuNvme::failure_;
Guest QemuNvme::healthy_;
Guest QemuNvme::failing_;

}  // namespace

TEST_F(QemuNvme, TheSmartListOffersTheNvmeDrive) {
    ASSERT_EQ(healthy_.listExit, 0) << healthy_.log;
    ASSERT_TRUE(healthy_.list.contains("drives")) << healthy_.log;
    ASSERT_EQ(healthy_.list["drives"].size(), 1u) << healthy_.list.dump();
    EXPECT_EQ(healthy_.list["drives"][0]["number"], 0);
    EXPECT_EQ(healthy_.list["drives"][0]["sizeBytes"], ImageBytes);
}

TEST_F(QemuNvme, IdentifyGivesQemusModelSerialAndFirmware) {
    ASSERT_TRUE(healthy_.cli.is_object()) << healthy_.log;
    EXPECT_EQ(healthy_.cli["model"], "QEMU NVMe Ctrl");
    EXPECT_EQ(healthy_.cli["serial"], Serial);
    EXPECT_FALSE(healthy_.cli["firmware"].get<std::string>().empty());
    EXPECT_EQ(healthy_.cli["resInfo"], std::string("NVMe Model: QEMU NVMe Ctrl, Serial: ") + Serial +
                                           ", Size = 64.00 MBytes ");
}

TEST_F(QemuNvme, EveryHealthFieldEqualsNvmeCli) {
    {
        SCOPED_TRACE("healthy");
        ExpectSameHealth(healthy_);
    }
    {
        SCOPED_TRACE("failing");
        ExpectSameHealth(failing_);
    }
}

TEST_F(QemuNvme, CriticalWarningFailsTheVerdictWithoutOneItFollowsTheOtherRules) {
    ASSERT_TRUE(failing_.cli.is_object()) << failing_.log;
    EXPECT_EQ(failing_.cliExit, 1) << failing_.log;
    EXPECT_EQ(failing_.cli["nvme"]["criticalWarning"], 4);
    EXPECT_EQ(failing_.cli["attributes"][0]["state"], "Failing Now");
    EXPECT_EQ(failing_.cli["attributes"][0]["caption"], "Critical Warning: reliability degraded");
    EXPECT_EQ(failing_.cli["summary"][2], "SMART Test Failed, Bad Attributes 1");

    ASSERT_TRUE(healthy_.cli.is_object()) << healthy_.log;
    EXPECT_EQ(healthy_.cli["nvme"]["criticalWarning"], 0);
    int failed = 0;
    for (const json& a : healthy_.cli["attributes"]) failed += a["state"] == "Failing Now";
    EXPECT_EQ(healthy_.cli["failedCount"], failed);
    EXPECT_EQ(healthy_.cliExit, failed ? 1 : 0);
}
