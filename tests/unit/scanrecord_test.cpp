// Scan records: how they are stored where root writes, read back, named, and made
// by every surface run; and the label escaping of the metrics text.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <nlohmann/json.hpp>

#include "drive/stableid.h"
#include "linux/devices.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/scanrecords.h"
#include "shell/exposition.h"
#include "support/sim.h"
#include "surface/scanrecord.h"
#include "surface/surfacerun.h"

namespace fs = std::filesystem;
using platform::linuxbe::LoadScanRecordFiles;
using platform::linuxbe::StoreScanRecordFile;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(dir)) v.push_back(e.path().filename().string());
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace

TEST(ScanRecordFiles, KeysOutsideTheCharsetAreRefusedBeforeAnythingIsWritten) {
    devtest::TempDir t;
    const std::string dir = t / "scans";
    for (const std::string& key : std::vector<std::string>{"", "../escape", "a/b", "with space", "tab\t",
                                                           std::string(129, 'k'), std::string("nul\0x", 5)}) {
        errno = 0;
        EXPECT_FALSE(StoreScanRecordFile(dir, key, "{}")) << key;
        EXPECT_EQ(errno, EINVAL) << key;
    }
    EXPECT_FALSE(fs::exists(t / "escape.json"));
    EXPECT_FALSE(fs::exists(dir));
    // The whole charset, at the longest.
    const std::string longest = std::string(124, 'z') + "A9._";
    ASSERT_TRUE(StoreScanRecordFile(dir, longest, "{}")) << std::strerror(errno);
    EXPECT_EQ(Names(dir), std::vector<std::string>{longest + ".json"});
}

TEST(ScanRecordFiles, ARecordIsPrivateReplacesTheOldOneAndLeavesNoTemporary) {
    devtest::TempDir t;
    // Neither the state folder nor its parent exist on a fresh machine.
    const std::string dir = t / "state/scans";
    ASSERT_TRUE(StoreScanRecordFile(dir, "wwn-0x5000", "first")) << std::strerror(errno);
    ASSERT_TRUE(StoreScanRecordFile(dir, "wwn-0x5000", "second")) << std::strerror(errno);
    EXPECT_EQ(Names(dir), std::vector<std::string>{"wwn-0x5000.json"});
    EXPECT_EQ(ReadAll(dir + "/wwn-0x5000.json"), "second");
    struct stat st{};
    ASSERT_EQ(::stat((dir + "/wwn-0x5000.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST(ScanRecordFiles, NoLinkRedirectsTheWrite) {
    devtest::TempDir t;
    const std::string dir = t / "scans";
    fs::create_directory(dir);
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace);
    // A link planted under the record's name is replaced, its target untouched.
    std::ofstream(t / "victim") << "precious";
    fs::create_symlink(t / "victim", dir + "/k.json");
    ASSERT_TRUE(StoreScanRecordFile(dir, "k", "record")) << std::strerror(errno);
    EXPECT_EQ(ReadAll(t / "victim"), "precious");
    EXPECT_FALSE(fs::is_symlink(dir + "/k.json"));
    EXPECT_EQ(ReadAll(dir + "/k.json"), "record");
    // The folder itself given as a link is not followed.
    fs::create_directory(t / "elsewhere");
    fs::create_directory_symlink(t / "elsewhere", t / "linked");
    EXPECT_FALSE(StoreScanRecordFile(t / "linked", "k", "record"));
    EXPECT_TRUE(fs::is_empty(t / "elsewhere"));
}

TEST(ScanRecordFiles, RootRefusesAFolderSomeoneElseCanChange) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the folder away";
    devtest::TempDir t;
    const std::string dir = t / "scans";
    fs::create_directory(dir);
    ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
    errno = 0;
    EXPECT_FALSE(StoreScanRecordFile(dir, "k", "x"));
    EXPECT_EQ(errno, EPERM);
    ASSERT_EQ(::chown(dir.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
    EXPECT_FALSE(StoreScanRecordFile(dir, "k", "x"));
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST(ScanRecordFiles, LoadingTakesRecordsOnlyAndNeverHangs) {
    devtest::TempDir t;
    const std::string dir = t / "scans";
    ASSERT_TRUE(StoreScanRecordFile(dir, "b", "B"));
    ASSERT_TRUE(StoreScanRecordFile(dir, "a", "A"));
    std::ofstream(dir + "/big.json") << std::string(platform::linuxbe::MaxScanRecordBytes + 1, ' ');
    std::ofstream(dir + "/notes.txt") << "not a record";
    std::ofstream(dir + "/.a.json.tmp123") << "a dead writer's temporary";
    std::ofstream(t / "outside.json") << "OUTSIDE";
    fs::create_symlink(t / "outside.json", dir + "/link.json");
    ASSERT_EQ(::mkfifo((dir + "/fifo.json").c_str(), 0600), 0);
    fs::create_directory(dir + "/sub.json");
    EXPECT_EQ(LoadScanRecordFiles(dir), (std::vector<std::string>{"A", "B"}));
    EXPECT_TRUE(LoadScanRecordFiles(t / "missing").empty());
}

TEST(ScanRecordKeys, StableIdentityPrefersWwnThenModelAndSerialThenByIdName) {
    DriveStableId id;
    id.byIdNames = {"ata-DISK_S1", "wwn-0x5000"};
    EXPECT_EQ(id.Label(), "ata-DISK_S1");
    id.model = "DISK";
    EXPECT_EQ(id.Label(), "ata-DISK_S1");  // a model without a serial names no single disk
    id.serial = "S1";
    EXPECT_EQ(id.Label(), "DISK_S1");
    id.wwn = "0x5000c500a1b2c3d4";
    EXPECT_EQ(id.Label(), "0x5000c500a1b2c3d4");
    EXPECT_EQ(DriveStableId{}.Label(), "");

    auto m = testsupport::Machine(R"({"drives": [
        {"path": "\\\\.\\PhysicalDrive0", "size": 1048576,
         "wmi": {"Model": "  Sim Disk  ", "SerialNumber": " SN 1 ", "WWN": "0x50014ee2", "ByIdNames": ["ata-Sim_Disk_SN_1"]}},
        {"path": "\\\\.\\PhysicalDrive1", "size": 1048576}]})");
    const DriveStableId q = QueryDriveStableId(*m, 0);
    EXPECT_TRUE(q.found);
    EXPECT_EQ(q.model, "Sim Disk");
    EXPECT_EQ(q.serial, "SN 1");
    EXPECT_EQ(q.byIdNames, std::vector<std::string>{"ata-Sim_Disk_SN_1"});
    EXPECT_EQ(q.Label(), "0x50014ee2");
    EXPECT_FALSE(QueryDriveStableId(*m, 1).found);
}

TEST(ScanRecordKeys, KeysAreValidFileNamesAndLongLabelsStayApart) {
    EXPECT_EQ(ScanRecordKey("0x5000c500a1b2c3d4"), "0x5000c500a1b2c3d4");
    EXPECT_EQ(ScanRecordKey("Samsung SSD/870 \"EVO\"_S5Y\n"), "Samsung_SSD_870__EVO__S5Y_");
    const std::string a = std::string(200, 'M') + "_SERIAL1";
    const std::string b = std::string(200, 'M') + "_SERIAL2";
    EXPECT_EQ(ScanRecordKey(a).size(), 128u);
    EXPECT_NE(ScanRecordKey(a), ScanRecordKey(b));
    for (const std::string& label : {a, std::string("\xff\xfe/.."), std::string("..")})
        EXPECT_TRUE(platform::linuxbe::ValidScanRecordKey(ScanRecordKey(label))) << label;
}

TEST(ScanRecordText, RoundTripsAndRefusesWhatIsNoRecord) {
    ScanRecord r;
    r.id = "SIM_1";
    r.driveNumber = 2;
    r.device = "\\\\.\\PhysicalDrive2";
    r.node = "/dev/sdc";
    r.endSector = 4096;
    r.stopSector = 4096;
    r.blocksRead = 32;
    r.failedBlocks = 1;
    r.readTimes = {30, 1, 0, 0, 0, 0, 1};
    r.startUnix = 1765240000;
    r.durationSeconds = 12.5;
    r.completed = true;
    const auto back = ParseScanRecord(ScanRecordJson(r));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->id, "SIM_1");
    EXPECT_EQ(back->readTimes, r.readTimes);
    EXPECT_EQ(back->failedBlocks, 1);
    EXPECT_EQ(back->durationSeconds, 12.5);
    EXPECT_TRUE(back->completed);

    auto doc = nlohmann::json::parse(ScanRecordJson(r));
    for (const char* key : {"id", "readTimes", "start", "completed"}) {
        auto broken = doc;
        broken.erase(key);
        EXPECT_FALSE(ParseScanRecord(broken.dump())) << key;
    }
    auto negative = doc;
    negative["failedBlocks"] = -1;
    EXPECT_FALSE(ParseScanRecord(negative.dump()));
    auto wrongType = doc;
    wrongType["completed"] = "yes";
    EXPECT_FALSE(ParseScanRecord(wrongType.dump()));
    auto future = doc;
    future["version"] = 2;
    EXPECT_FALSE(ParseScanRecord(future.dump()));
    EXPECT_FALSE(ParseScanRecord("{not json"));
    EXPECT_FALSE(ParseScanRecord("[]"));
}

namespace {

std::string RecordMachine(const std::string& state, const std::string& driveExtra) {
    return R"({"clock": {"start": 1000, "msPerRead": 20}, "stateFolder": ")" + state +
           R"(", "drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1048576,
               "wmi": {"Model": "Sim", "SerialNumber": "S1"})" +
           driveExtra + "}]}";
}

std::vector<ScanRecord> Records(platform::Platform& p) {
    std::vector<ScanRecord> v;
    for (const std::string& text : p.LoadScanRecords())
        if (auto r = ParseScanRecord(text)) v.push_back(*r);
    return v;
}

}  // namespace

TEST(SurfaceRunRecord, EveryRunOfAPhysicalDriveKeepsItsResultTheNewestReplacingTheLast) {
    devtest::TempDir t;
    // One unreadable block, one slow one.
    auto m = testsupport::Machine(
        RecordMachine("state", R"(, "unreadable": [{"offset": 131072, "length": 1}],
                                    "slow": [{"offset": 655360, "length": 1, "ms": 600}])"),
        t.path());
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    TSurfaceRun run(*m, {});
    SurfaceRunResult res = run.Run("\\\\.\\PhysicalDrive0", "Sim", 2048);
    EXPECT_TRUE(res.recordKept);
    EXPECT_EQ(res.recordError, "");
    auto records = Records(*m);
    ASSERT_EQ(records.size(), 1u);
    const ScanRecord& r = records[0];
    EXPECT_EQ(r.id, "Sim_S1");
    EXPECT_EQ(r.driveNumber, 0);
    EXPECT_EQ(r.endSector, 2048);
    EXPECT_EQ(r.stopSector, 2048);
    EXPECT_EQ(r.blocksRead, 16);
    EXPECT_EQ(r.failedBlocks, 1);
    EXPECT_EQ(r.readTimes[ReadFailed], 1);
    EXPECT_EQ(r.readTimes[AtLeast500ms], 1);
    EXPECT_GE(r.startUnix, before);
    EXPECT_GT(r.durationSeconds, 0.6);  // the virtual clock: 16 reads and the slow one
    EXPECT_TRUE(r.completed);
    EXPECT_TRUE(fs::exists(t / "state/Sim_S1.json"));

    // Aborted at once: the record of the same disk is replaced and says so.
    SurfaceRunCallbacks stop;
    stop.abortRequested = [] { return true; };
    TSurfaceRun aborted(*m, stop);
    res = aborted.Run("\\\\.\\PhysicalDrive0", "Sim", 2048);
    EXPECT_TRUE(res.aborted);
    records = Records(*m);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_FALSE(records[0].completed);
    EXPECT_TRUE(records[0].aborted);
    EXPECT_EQ(records[0].blocksRead, 1);
}

TEST(SurfaceRunRecord, AVanishedDriveStillGetsItsRecord) {
    devtest::TempDir t;
    auto m = testsupport::Machine(RecordMachine("state", R"(, "vanishAfterReads": 3, "overlapped": false)"), t.path());
    TSurfaceRun run(*m, {});
    const SurfaceRunResult res = run.Run("\\\\.\\PhysicalDrive0", "Sim", 2048);
    ASSERT_TRUE(res.vanished);
    EXPECT_TRUE(res.recordKept);
    const auto records = Records(*m);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].vanished);
    EXPECT_FALSE(records[0].completed);
    EXPECT_EQ(records[0].id, "Sim_S1");
}

TEST(SurfaceRunRecord, NothingIsKeptWithoutAStateFolderOrIdentityAndAFailureIsSaid) {
    devtest::TempDir t;
    // No state folder: nothing kept, nothing to complain about.
    auto bare = testsupport::Machine(
        R"({"drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1048576, "wmi": {"Model": "Sim", "SerialNumber": "S1"}}]})",
        t.path());
    SurfaceRunResult res = TSurfaceRun(*bare, {}).Run("\\\\.\\PhysicalDrive0", "Sim", 128);
    EXPECT_FALSE(res.recordKept);
    EXPECT_EQ(res.recordError, "");
    EXPECT_TRUE(fs::is_empty(t.path()));

    // A drive that names itself in no lasting way (no WMI facts): no record.
    auto anonymous = testsupport::Machine(
        R"({"stateFolder": "state", "drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1048576}]})", t.path());
    res = TSurfaceRun(*anonymous, {}).Run("\\\\.\\PhysicalDrive0", "Sim", 128);
    EXPECT_FALSE(res.recordKept);
    EXPECT_FALSE(fs::exists(t / "state"));

    // An image file is no physical drive and has no record either.
    devtest::MakeImage(t / "disk.img", 1048576);
    res = TSurfaceRun(*anonymous, {}).Run(t / "disk.img", "img", 128);
    EXPECT_FALSE(res.recordKept);

    // A state folder that cannot be made: the run is whole, the failure is said.
    std::ofstream(t / "blocked") << "a file where the folder should be";
    auto blocked = testsupport::Machine(RecordMachine("blocked/scans", ""), t.path());
    res = TSurfaceRun(*blocked, {}).Run("\\\\.\\PhysicalDrive0", "Sim", 128);
    EXPECT_TRUE(res.opened);
    EXPECT_EQ(res.ErrorCount, 0);
    EXPECT_FALSE(res.recordKept);
    EXPECT_NE(res.recordError, "");
}

TEST(MetricsLabels, ValuesAreEscapedSoNothingEndsALineOrAValueEarly) {
    using exposition::EscapeLabelValue;
    EXPECT_EQ(EscapeLabelValue("plain 1.0"), "plain 1.0");
    EXPECT_EQ(EscapeLabelValue("a\\b\"c\nd"), "a\\\\b\\\"c\\nd");
    EXPECT_EQ(EscapeLabelValue("\\\\.\\PhysicalDrive0"), "\\\\\\\\.\\\\PhysicalDrive0");
    // Other controls, C1 controls and bytes that are no UTF-8 become U+FFFD.
    EXPECT_EQ(EscapeLabelValue("x\ry\x1b"), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
    EXPECT_EQ(EscapeLabelValue("\xC2\x9B" "1"), "\xEF\xBF\xBD\xEF\xBF\xBD" "1");
    EXPECT_EQ(EscapeLabelValue("\xff\xe2\x82"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(EscapeLabelValue("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x92\xBE"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x92\xBE");

    exposition::Writer w;
    w.Family("m_a", "gauge", "A.");
    w.Family("m_b", "counter", "B.");
    w.Family("m_unused", "gauge", "Never sampled.");
    w.Sample("m_b", {{"k", "1"}}, "2");
    w.Sample("m_a", {}, exposition::Number(0.25));
    w.Sample("m_b", {{"k", "2"}}, exposition::Number(uint64_t{18446744073709551615u}));
    // Declared order, samples of a family together, families without samples left out.
    EXPECT_EQ(w.Text(),
              "# HELP m_a A.\n# TYPE m_a gauge\nm_a 0.25\n"
              "# HELP m_b B.\n# TYPE m_b counter\nm_b{k=\"1\"} 2\nm_b{k=\"2\"} 18446744073709551615\n");
    EXPECT_THROW(w.Sample("m_undeclared", {}, "1"), std::logic_error);
}

TEST(ScanRecordFiles, TheRealMachineKeepsRecordsInItsFolderAndSaysWhyNot) {
    devtest::TempDir t;
    platform::linuxbe::LinuxPlatform machine(t / "HKLM.reg");
    machine.SetScanRecordFolder(t / "scans");
    platform::Platform& p = machine;
    EXPECT_TRUE(p.LoadScanRecords().empty());
    EXPECT_FALSE(p.SaveScanRecord("../up", "{}"));
    EXPECT_EQ(p.GetLastError(), static_cast<uint32_t>(EINVAL));
    ASSERT_TRUE(p.SaveScanRecord("0x5000", "{\"a\":1}"));
    EXPECT_EQ(p.LoadScanRecords(), std::vector<std::string>{"{\"a\":1}"});
    EXPECT_FALSE(fs::exists(t / "up.json"));
}
