// The program's side of the helper: the settings and scan records forwarded to a
// helper that answers from a simulated machine, what a refused authentication
// leaves the program with, and the scan-record files the helper writes.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "drive/drivelist.h"
#include "drive/usersystem.h"
#include "platform/forwarding.h"
#include "platform/helper/client.h"
#include "platform/helper/server.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/scanrecords.h"
#include "shell/settings.h"
#include "support/sim.h"
#include "support/tempdir.h"

using namespace platform;
using namespace platform::helper;
namespace fs = std::filesystem;

namespace {

int NoDescriptor(Platform&, Handle) { return -1; }

// A helper that answers in a thread of this process, from a simulated machine.
class InProcessHelper {
public:
    explicit InProcessHelper(const std::string& dir) {
        const std::string json = R"({"registry": ")" + dir + R"(/HKLM.reg",
            "drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1048576}]})";
        machine_ = testsupport::Machine(json, dir);
        server_ = std::make_unique<Server>(*machine_, NoDescriptor, dir + "/scans");
    }
    ~InProcessHelper() {
        if (thread_.joinable()) thread_.join();
    }
    Channel Start() {
        ++starts;
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return {};
        thread_ = std::thread([this, s = sv[1]] {
            Serve(s, *server_);
            ::close(s);
        });
        Channel c;
        c.socket = sv[0];
        return c;
    }
    sim::SimPlatform& machine() { return *machine_; }
    std::atomic<int> starts{0};

private:
    std::unique_ptr<sim::SimPlatform> machine_;
    std::unique_ptr<Server> server_;
    std::thread thread_;
};

class HelperClient : public ::testing::Test {
protected:
    std::unique_ptr<HelperPlatform> Connected(InProcessHelper& helper) {
        return std::make_unique<HelperPlatform>(std::make_unique<linuxbe::LinuxPlatform>(dir / "user-hive.reg"),
                                                [&helper] { return helper.Start(); });
    }
    std::unique_ptr<HelperPlatform> Spawning(std::vector<std::string> command, int* starts = nullptr) {
        return std::make_unique<HelperPlatform>(std::make_unique<linuxbe::LinuxPlatform>(dir / "user-hive.reg"),
                                                [command, starts] {
                                                    if (starts) ++*starts;
                                                    return SpawnHelper(command);
                                                });
    }
    testsupport::TempDir dir;
};

}  // namespace

TEST_F(HelperClient, SettingsGoThroughTheHelperIntoItsStoreOnly) {
    InProcessHelper helper(dir.path.string());
    {
        auto p = Connected(helper);
        settings::EmailFields saved;
        saved.sendByEmail = true;
        saved.email = "ops@example.org";
        saved.emailFrom = "scandor@example.org";
        saved.smtpHost = "mail.example.org";
        saved.username = "ops";
        saved.password = "s3cret";
        ASSERT_EQ(settings::SaveSettings(p->GetRegistry(), saved), "");
        settings::EmailFields read;
        ASSERT_EQ(settings::ReadSettings(p->GetRegistry(), read), "");
        EXPECT_TRUE(read.sendByEmail);
        EXPECT_EQ(read.email, saved.email);
        EXPECT_EQ(read.smtpHost, saved.smtpHost);
        EXPECT_EQ(read.password, saved.password);

        // Only the program's key exists through the helper; only its six values are written.
        Registry& reg = p->GetRegistry();
        EXPECT_EQ(reg.OpenKey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", true), nullptr);
        auto key = reg.OpenKey("\\SOFTWARE\\KAVENO_Scandor", false);
        ASSERT_NE(key, nullptr);
        RegValue v;
        v.type = REG_DWORD;
        v.dword = 7;
        EXPECT_FALSE(key->WriteValue("NoHDDs", v));
        EXPECT_FALSE(reg.LastFailure().empty());
        EXPECT_FALSE(key->ReadValue("Scandor-missing", v));
        EXPECT_EQ(reg.LastFailure(), "") << "a missing value is no failure";
    }
    // The values sit in the helper's store, none in the user's own hive file.
    const std::string hive = testsupport::ReadFile(dir / "HKLM.reg");
    EXPECT_NE(hive.find("ops@example.org"), std::string::npos);
    EXPECT_EQ(hive.find("NoHDDs"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "user-hive.reg"));
    EXPECT_EQ(helper.starts, 1) << "one helper for the whole run";
}

TEST_F(HelperClient, ScanRecordsAreStoredByTheHelperWithTheirKeyChecked) {
    InProcessHelper helper(dir.path.string());
    auto p = Connected(helper);
    ASSERT_TRUE(p->SaveScanRecord("loop0-seq42", R"({"errors":3})")) << p->GetLastError();
    EXPECT_EQ(testsupport::ReadFile(dir / "scans/loop0-seq42.json"), R"({"errors":3})");
    ASSERT_TRUE(p->SaveScanRecord("loop0-seq42", R"({"errors":0})"));
    EXPECT_EQ(testsupport::ReadFile(dir / "scans/loop0-seq42.json"), R"({"errors":0})");

    EXPECT_FALSE(p->SaveScanRecord("../../etc/evil", "{}"));
    EXPECT_EQ(p->GetLastError(), uint32_t{EINVAL});
    EXPECT_FALSE(p->SaveScanRecord("big", std::string(MaxRecord + 1, ' ')));
    EXPECT_EQ(p->GetLastError(), uint32_t{EFBIG});
    EXPECT_FALSE(fs::exists(dir / "scans/big.json"));
    EXPECT_FALSE(fs::exists(dir / "etc"));
}

// pkexec ends with 126 when the user cancels, 127 when authorization is refused.
TEST_F(HelperClient, RefusedAuthenticationIsSaidOnceAndNothingIsOpened) {
    for (const char* code : {"126", "127"}) {
        SCOPED_TRACE(code);
        int starts = 0;
        auto p = Spawning({"/bin/sh", "-c", std::string("exit ") + code}, &starts);
        EXPECT_EQ(p->ObtainDriveAccess(), AccessRefusedText);
        EXPECT_EQ(p->CreateFile("\\\\.\\PhysicalDrive0", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0),
                  InvalidHandle);
        EXPECT_EQ(p->GetLastError(), uint32_t{EACCES});
        settings::EmailFields f;
        EXPECT_EQ(settings::ReadSettings(p->GetRegistry(), f), AccessRefusedText);
        EXPECT_FALSE(p->SaveScanRecord("k", "{}"));
        EXPECT_EQ(p->ObtainDriveAccess(), AccessRefusedText);
        EXPECT_EQ(starts, 1) << "the user is asked once a run";

        // The user's own image file needs no helper.
        testsupport::WriteFile(dir / "image", std::string(4096, 'x'));
        const Handle h = p->CreateFile(dir / "image", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
        EXPECT_NE(h, InvalidHandle);
        if (h != InvalidHandle) p->CloseHandle(h);
    }
}

TEST_F(HelperClient, AHelperThatCannotStartOrEndsEarlyIsNoRefusal) {
    auto missing = Spawning({"/nonexistent/scandor-helper"});
    const std::string why = missing->ObtainDriveAccess();
    EXPECT_NE(why.find("cannot be started"), std::string::npos) << why;
    auto quits = Spawning({"/bin/true"});
    EXPECT_EQ(quits->ObtainDriveAccess(),
              "The drives cannot be reached: the helper ended before answering (exit status 0).");
    // Hangs up without ending: the program does not wait for it.
    auto hangsUp = Spawning({"/bin/sh", "-c", "exec 0<&- 1>&-; sleep 5"});
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(hangsUp->ObtainDriveAccess(), "The drives cannot be reached: the helper stopped answering.");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
    auto relative = Spawning({"pkexec"});
    EXPECT_NE(relative->ObtainDriveAccess(), "") << "no PATH look-up";
}

TEST(HelperPath, BesideTheExecutableElseTheInstalledLibexec) {
    testsupport::TempDir dir;
    fs::create_directories(dir.path / "bin");
    EXPECT_EQ(HelperProgramPath(dir / "bin/scandor"), (dir.path / "libexec/scandor/scandor-helper").string());
    EXPECT_EQ(HelperProgramPath("/usr/bin/scandor-cli"), "/usr/libexec/scandor/scandor-helper");
    testsupport::WriteFile(dir / "bin/scandor-helper", "");
    EXPECT_EQ(HelperProgramPath(dir / "bin/scandor"), dir / "bin/scandor-helper");
}

namespace {

// A machine whose drives may not be read: the drive list must say so and stop.
class RefusingMachine final : public ForwardingPlatform {
public:
    using ForwardingPlatform::ForwardingPlatform;
    std::string ObtainDriveAccess() override { return AccessRefusedText; }
    Handle CreateFile(const std::string& path, uint32_t a, uint32_t s, uint32_t c, uint32_t f) override {
        ++opens;
        return ForwardingPlatform::CreateFile(path, a, s, c, f);
    }
    int opens = 0;
};

}  // namespace

TEST(HelperRefusal, TheDriveListSaysAccessWasRefused) {
    testsupport::TempDir dir;
    auto sim = testsupport::Machine(R"({"drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1048576}]})",
                                    dir.path.string());
    RefusingMachine machine(*sim);
    TUserSystem user(machine);
    std::vector<std::string> box, log;
    DriveListCallbacks cb;
    cb.log = [&](const std::string& s) { log.push_back(s); };
    cb.informationBox = [&](const std::string& text, const std::string& caption) {
        box = {text, caption};
    };
    DriveListTexts texts;
    texts.nothingListed = "No drives";
    texts.nothingListedCaption = "Information";
    TDriveList list(machine, user, texts, cb);
    EXPECT_TRUE(list.ListDrivesForSectorTest().empty());
    EXPECT_EQ(box, (std::vector<std::string>{AccessRefusedText, "Information"}));
    EXPECT_EQ(log, std::vector<std::string>{AccessRefusedText});
    EXPECT_TRUE(list.ListDrivesForSmartTest().empty());
    EXPECT_EQ(machine.opens, 0);
}

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

}  // namespace

TEST(ScanRecordFile, KeysOutsideTheirAlphabetAreRefused) {
    const auto IsScanRecordKey = linuxbe::ValidScanRecordKey;
    EXPECT_TRUE(IsScanRecordKey("nvme0n1-SN.123_x"));
    EXPECT_TRUE(IsScanRecordKey(std::string(128, 'a')));
    for (const std::string& bad : {std::string(), std::string(129, 'a'), std::string("."), std::string(".."),
                                   std::string("a/b"), std::string("a b"), std::string("a\nb"),
                                   std::string("a\0b", 3), std::string("\xc3\xa4")})
        EXPECT_FALSE(IsScanRecordKey(bad)) << bad;
}

TEST(ScanRecordFile, WritesPrivatelyAndReplacesWholeNeverThroughLinks) {
    testsupport::TempDir dir;
    const std::string scans = dir / "state/scans";
    const auto StoreScanRecordFile = [](const std::string& d, const std::string& key, const std::string& json) {
        errno = 0;
        return linuxbe::StoreScanRecordFile(d, key, json) ? 0 : errno;
    };
    ASSERT_EQ(StoreScanRecordFile(scans, "sda-1", "{\"a\":1}"), 0);
    EXPECT_EQ(ModeOf(scans) & 07777, 0700u);
    EXPECT_EQ(ModeOf(scans + "/sda-1.json") & 07777, 0600u);
    EXPECT_EQ(testsupport::ReadFile(scans + "/sda-1.json"), "{\"a\":1}");
    EXPECT_EQ(StoreScanRecordFile(scans, "sda-1", "{}"), 0);
    EXPECT_EQ(testsupport::ReadFile(scans + "/sda-1.json"), "{}");
    EXPECT_EQ(StoreScanRecordFile(scans, "sda-1", std::string(linuxbe::MaxScanRecordBytes + 1, ' ')), EFBIG);
    EXPECT_EQ(StoreScanRecordFile(scans, "../x", "{}"), EINVAL);

    // A link in the record's place is replaced, its target left alone.
    testsupport::WriteFile(dir / "victim", "keep");
    fs::create_symlink(dir / "victim", scans + "/sdb-2.json");
    ASSERT_EQ(StoreScanRecordFile(scans, "sdb-2", "{\"b\":2}"), 0);
    EXPECT_EQ(testsupport::ReadFile(dir / "victim"), "keep");
    EXPECT_FALSE(fs::is_symlink(scans + "/sdb-2.json"));
    EXPECT_EQ(testsupport::ReadFile(scans + "/sdb-2.json"), "{\"b\":2}");

    // A folder that is a link, or that others may write to, is not written into.
    fs::create_directories(dir / "elsewhere");
    fs::create_symlink(dir / "elsewhere", dir / "linked");
    EXPECT_NE(StoreScanRecordFile(dir / "linked", "sdc-3", "{}"), 0);
    EXPECT_FALSE(fs::exists(dir / "elsewhere/sdc-3.json"));
    fs::create_directories(dir / "open");
    ::chmod((dir / "open").c_str(), 0777);
    EXPECT_EQ(StoreScanRecordFile(dir / "open", "sdd-4", "{}"), EPERM);
    EXPECT_FALSE(fs::exists(dir / "open/sdd-4.json"));
}
