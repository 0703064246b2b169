#include <gtest/gtest.h>

#include "drive/drivelist.h"
#include "drive/usersystem.h"
#include "platform/platform.h"
#include "shell/settings.h"
#include "shell/translation.h"
#include "support/sim.h"
#include "support/tempdir.h"

namespace {

MessageStrings English() {
    translation::TTranslator t(translation::MainFormTable());
    MessageStrings m;
    translation::LoadMessageStrings(t, m);
    return m;
}

struct Fill {
    std::unique_ptr<platform::sim::SimPlatform> machine;
    MessageStrings messages = English();
    std::vector<std::string> log;
    std::vector<std::pair<std::string, std::string>> boxes;
    std::vector<DriveListEntry> added;

    explicit Fill(const std::string& manifest, const std::string& dir = ".")
        : machine(testsupport::Machine(manifest, dir)) {}

    std::vector<DriveListEntry> Run(bool smart) {
        TUserSystem system(*machine);
        DriveListCallbacks cb;
        cb.log = [this](const std::string& s) { log.push_back(s); };
        cb.pump = [] {};
        cb.add = [this](const DriveListEntry& e) { added.push_back(e); };
        cb.informationBox = [this](const std::string& t, const std::string& c) { boxes.emplace_back(t, c); };
        cb.resumeEntries = settings::ResumeEntriesFrom(machine->GetRegistry(), cb.log);
        TDriveList list(*machine, system, DriveListTextsOf(messages), cb);
        return smart ? list.ListDrivesForSmartTest() : list.ListDrivesForSectorTest();
    }
    bool Opened(const std::string& path) const {
        for (const auto& o : machine->Opens())
            if (o.path == path) return true;
        return false;
    }
};

const char* kDisks = R"({
  "drives": [
    {"path": "\\\\.\\PhysicalDrive0", "size": 1000204886016, "wmi": {"Model": "WDC WD10EZEX", "InterfaceType": "IDE"},
     "ide": {"positions": {"0": {"identify": {"model": "WDC WD10EZEX", "serial": "W1", "sectors": 1000}}}}},
    {"path": "\\\\.\\PhysicalDrive2", "size": 8053063680, "wmi": {"Model": "USB Stick", "InterfaceType": "USB"}},
    {"path": "\\\\.\\PhysicalDrive3", "size": 1048576, "partitionInfo": {"partitionLength": 0},
     "wmi": {"Model": "Card Reader", "InterfaceType": "USB"}},
    {"path": "\\\\.\\PhysicalDrive4", "size": 1048576, "wmi": {"Model": "scsi disk", "InterfaceType": "SCSI"}},
    {"path": "\\\\.\\PhysicalDrive5", "size": 1048576, "wmi": {"Model": "lower usb", "InterfaceType": "usb"}},
    {"path": "\\\\.\\PhysicalDrive6", "size": 1048576},
    {"path": "\\\\.\\PhysicalDrive25", "size": 1048576, "wmi": {"Model": "never", "InterfaceType": "IDE"}}
  ]})";

}  // namespace

TEST(DriveListFill, SectorTestListsEveryDriveWithPartitionLengthAndItsPicture) {
    Fill f(kDisks);
    auto entries = f.Run(false);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].caption, "WDC WD10EZEX 931.51 GBytes ");
    EXPECT_EQ(entries[0].imageIndex, 0);
    EXPECT_EQ(entries[1].caption, "USB Stick 7.50 GBytes ");
    EXPECT_EQ(entries[1].imageIndex, 3);
    EXPECT_EQ(entries[2].imageIndex, 0) << "SCSI";
    EXPECT_EQ(entries[3].imageIndex, 0) << "usb in lower case";
    EXPECT_EQ(entries[4].caption, " 1.00 MBytes ") << "no model: the caption starts with the blank";
    EXPECT_EQ(entries[4].imageIndex, 0);
    const auto& r = *entries[1].record;
    EXPECT_EQ(r.DisplayName, "USB Stick 7.50 GBytes ");
    EXPECT_EQ(r.DevicePath, "\\\\.\\PhysicalDrive2");
    EXPECT_EQ(r.DriveNumber, 2);
    EXPECT_EQ(r.Kind, KindPhysical);
    EXPECT_EQ(r.TotalBytes, 0);
    EXPECT_EQ(r.PartitionInfo.PartitionLength, 8053063680);
    EXPECT_FALSE(f.Opened("\\\\.\\PhysicalDrive25"));
    EXPECT_TRUE(f.Opened("\\\\.\\PhysicalDrive24")) << "gaps do not stop the pass";
    EXPECT_EQ(f.added.size(), entries.size());
    EXPECT_TRUE(f.boxes.empty());
    EXPECT_EQ(f.log, (std::vector<std::string>{
                         "Searching for floppy drives...", "Search media device ...",
                         "Adding hard drive WDC WD10EZEX to list.", "Adding hard drive USB Stick to list.",
                         "Adding hard drive scsi disk to list.", "Adding hard drive lower usb to list.",
                         "Adding hard drive  to list.", "INFO: Start tests by selecting a storage device"}));
}

TEST(DriveListFill, SmartTestListsOnlyDrivesThatIdentify) {
    Fill f(kDisks);
    auto entries = f.Run(true);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].record->DriveNumber, 0);
    EXPECT_FALSE(f.Opened("\\\\.\\A:"));
    EXPECT_EQ(f.log.front(), "Searching for floppy drives...") << "both search lines are still written";
}

TEST(DriveListFill, OnlyFloppyLettersStopAfterTheSearchLines) {
    for (bool smart : {false, true}) {
        Fill f(R"({"logicalDrives": 3, "volumes": {"A:\\": {}},
                   "drives": [{"path": "\\\\.\\A:", "size": 1474560}, {"path": "\\\\.\\PhysicalDrive0", "size": 1048576}]})");
        auto entries = f.Run(smart);
        EXPECT_FALSE(f.Opened("\\\\.\\PhysicalDrive0"));
        EXPECT_TRUE(f.boxes.empty()) << "no box on this early return";
        EXPECT_EQ(f.log.back(), "No hard drives found. Please check.");
        EXPECT_EQ(entries.size(), smart ? 0u : 1u);
    }
}

TEST(DriveListFill, FloppiesWithAReadableVolumeAndMachinesWithOnlyAAndC) {
    Fill f(R"({"logicalDrives": 5, "volumes": {"A:\\": {"fileSystem": "FAT12"}},
               "drives": [{"path": "\\\\.\\A:", "size": 1474560}, {"path": "\\\\.\\B:", "size": 1474560},
                          {"path": "\\\\.\\PhysicalDrive0", "size": 1048576}]})");
    auto entries = f.Run(false);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].caption, "A:\\ 1.41 MBytes ");
    EXPECT_EQ(entries[0].imageIndex, 6);
    EXPECT_EQ(entries[0].record->DisplayName, "A:\\");
    EXPECT_EQ(entries[0].record->DevicePath, "\\\\.\\A:");
    EXPECT_EQ(entries[0].record->DriveNumber, -1);
    EXPECT_EQ(entries[0].record->Kind, KindFloppy);
    EXPECT_EQ(entries[0].record->TotalBytes, 1474560);
    EXPECT_FALSE(f.Opened("\\\\.\\B:")) << "bit 1 is clear: B: is skipped unprobed";
    EXPECT_EQ(f.log[1], "Adding floppy drive A:\\ 1.41 MBytes  to list");
}

TEST(DriveListFill, AFloppyWithoutMediumIsNotListed) {
    Fill f(R"({"drives": [{"path": "\\\\.\\A:", "size": 1474560}, {"path": "\\\\.\\PhysicalDrive0", "size": 1048576}]})");
    auto entries = f.Run(false);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].record->DriveNumber, 0);
    EXPECT_FALSE(f.Opened("\\\\.\\A:"));
}

TEST(DriveListFill, NothingListedShowsTheAdminRightsBox) {
    Fill f(R"({"drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1048576, "failOpen": 13}]})");
    EXPECT_TRUE(f.Run(false).empty());
    ASSERT_EQ(f.boxes.size(), 1u);
    EXPECT_EQ(f.boxes[0].second, "You don't have enough admin rights for this operation");
    EXPECT_EQ(f.boxes[0].first.rfind("You need admin rights for this operation!", 0), 0u);
    EXPECT_EQ(f.log.back(), "INFO: Start tests by selecting a storage device");
}

TEST(DriveListFill, AFailingWmiServiceGivesThePlainPicture) {
    Fill f(R"({"wmi": {"fail": "service down"},
               "drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1048576, "wmi": {"InterfaceType": "USB"}}]})");
    auto entries = f.Run(false);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].imageIndex, 0);
    EXPECT_EQ(entries[0].caption, " 1.00 MBytes ");
}

namespace {

std::string Hive(const std::string& values, const std::string& resume) {
    std::string s = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor]\r\n" + values;
    if (!resume.empty()) s += "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor\\nameofHdd]\r\n" + resume;
    return s;
}

const char* kResumeDrives = R"({"registry": "hive.reg", "drives": [
    {"path": "\\\\.\\PhysicalDrive0", "size": 1048576, "wmi": {"Model": "DISK0"}},
    {"path": "\\\\.\\PhysicalDrive1", "size": 2097152, "wmi": {"Model": "DISK1"}}]})";

}  // namespace

TEST(DriveListResume, SavedNamesAddResumeEntriesAfterTheDrives) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "hive.reg",
                           Hive("\"NoHDDs\"=dword:00000002\r\n\"HDD1\"=\"DISK1 2.00 MBytes \"\r\n\"HDD2\"=\"NOT THERE\"\r\n",
                                "\"actualSector\"=dword:ffffff00\r\n"));
    Fill f(kResumeDrives, dir.path.string());
    auto entries = f.Run(false);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].imageIndex, 7);
    EXPECT_EQ(entries[2].caption, "");
    ASSERT_TRUE(entries[2].record);
    EXPECT_NE(entries[2].record, entries[1].record) << "a copy of its own";
    EXPECT_EQ(entries[2].record->DevicePath, "\\\\.\\PhysicalDrive1");
    EXPECT_EQ(entries[2].record->ResumeSector, -256) << "the saved 32-bit value, sign-extended";
    EXPECT_EQ(entries[1].record->ResumeSector, 0);
}

TEST(DriveListResume, OnlyTheWholeDisplayNameMatchesAndAMissingSectorLeavesNoRecord) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "hive.reg",
                           Hive("\"NoHDDs\"=dword:00000003\r\n\"HDD1\"=\"DISK0 1.00 MBytes\"\r\n"
                                "\"HDD2\"=\"DISK0 1.00 MBytes \"\r\n\"HDD3\"=\"DISK1 2.00 MBytes \"\r\n", ""));
    Fill f(kResumeDrives, dir.path.string());
    auto entries = f.Run(false);
    // HDD1 lacks the trailing blank and matches nothing; HDD2 matches, but its
    // sector cannot be read: the entry stays without a record and the scan ends.
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].imageIndex, 7);
    EXPECT_EQ(entries[2].record, nullptr);
}

TEST(DriveListResume, NoCountMeansNoResumeEntries) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "hive.reg", Hive("\"NoHDDs\"=dword:00000000\r\n\"HDD1\"=\"DISK0 1.00 MBytes \"\r\n", ""));
    Fill f(kResumeDrives, dir.path.string());
    EXPECT_EQ(f.Run(false).size(), 2u);
}
