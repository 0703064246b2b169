#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QStandardPaths>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "shell/ui/driveitems.h"
#include "support/tempdir.h"
#include "window.h"

using testsupport::Window;

namespace {

std::string Manifest() {
    return R"({"startupFolder": "autostart", "executable": "/opt/kaveno/scandor"})";
}

void AddDrive(Window& w, const QString& caption, int32_t number, char kind) {
    auto record = std::make_shared<TBigDriveInformation>();
    record->DisplayName = caption.toStdString();
    record->DriveNumber = number;
    record->Kind = kind;
    auto* item = new QListWidgetItem(caption, w.Find<QListWidget>("DrivesListView"));
    AttachRecord(item, record);
}

void ExpectValidEntry(const std::string& path) {
    if (QStandardPaths::findExecutable("desktop-file-validate").isEmpty()) return;
    QProcess p;
    p.start("desktop-file-validate", {QString::fromStdString(path)});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardOutput().toStdString() << p.readAllStandardError().toStdString();
    EXPECT_TRUE(p.readAllStandardOutput().trimmed().isEmpty()) << "warnings for " << path;
}

}  // namespace

TEST(AutostartPage, InstallWithoutPreviewWritesTheEditsTextAndCountsUp) {
    testsupport::TempDir dir;
    Window w(Manifest(), dir.path.string());
    AddDrive(w, "DISK ONE 931.51 GBytes ", 0, KindPhysical);
    for (int i = 0; i < 3; ++i) {
        w.Trigger("CreateAutostartEntries1");
        EXPECT_EQ(w.CurrentPage(), 7);
        w.Click("installbutton");
        EXPECT_EQ(w.CurrentPage(), 6);
    }
    const std::string folder = dir.path.string() + "/autostart/";
    for (const char* name : {"scandor.desktop", "scandor1.desktop", "scandor2.desktop"}) {
        std::string entry = testsupport::ReadFile(folder + name);
        EXPECT_NE(entry.find("\nExec=\"/opt/kaveno/scandor\" \"Parameterstring\"\n"), std::string::npos) << entry;
        ExpectValidEntry(folder + name);
    }
    EXPECT_FALSE(std::filesystem::exists(folder + "scandor3.desktop"));
}

TEST(AutostartPage, PreviewBuildsTheParameterStringOfTheSelectedDrive) {
    testsupport::TempDir dir;
    Window w(Manifest(), dir.path.string());
    AddDrive(w, "A:\\ 1.41 MBytes ", -1, KindFloppy);
    AddDrive(w, "DISK TWO 1.00 GBytes ", 2, KindPhysical);
    w.Trigger("CreateAutostartEntries1");
    auto* list = w.Find<QTreeWidget>("SelectParameterList");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(1)->text(0), "DISK TWO 1.00 GBytes ");
    EXPECT_EQ(RecordOf(list->topLevelItem(1)), RecordOf(w.Find<QListWidget>("DrivesListView")->item(1)))
        << "the page shares the drive list's records";
    EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
    w.Click("TntBitBtn4");
    EXPECT_EQ(w.Find<QLineEdit>("TntEdit2")->text(), "-1 \"MyLogFile\"");

    w.dialogs.nextFolder = "/var/log/scandor";
    w.Click("TntSpeedButton6");
    ASSERT_EQ(w.dialogs.folderTitles.size(), 1u);
    EXPECT_EQ(w.dialogs.folderTitles[0], "Select log file directory");
    EXPECT_EQ(w.Find<QLineEdit>("TntEdit1")->text(), "/var/log/scandor/MyLogFile.log");
    list->setCurrentItem(list->topLevelItem(1));
    w.Click("TntBitBtn4");
    EXPECT_EQ(w.Find<QLineEdit>("TntEdit2")->text(), "2 \"/var/log/scandor/MyLogFile.log\"");

    w.dialogs.nextFolder.reset();  // cancelled: nothing changes
    w.Click("TntSpeedButton6");
    EXPECT_EQ(w.Find<QLineEdit>("TntEdit1")->text(), "/var/log/scandor/MyLogFile.log");
    w.dialogs.nextFolder = "/";
    w.Click("TntSpeedButton6");
    EXPECT_EQ(w.Find<QLineEdit>("TntEdit1")->text(), "/MyLogFile.log");

    w.Click("installbutton");
    std::string entry = testsupport::ReadFile(dir.path.string() + "/autostart/scandor.desktop");
    EXPECT_NE(entry.find("\nExec=\"/opt/kaveno/scandor\" \"2\" \"/var/log/scandor/MyLogFile.log\"\n"),
              std::string::npos) << entry;
    ExpectValidEntry(dir.path.string() + "/autostart/scandor.desktop");
}

TEST(AutostartPage, AfterASectorTestTheListIsCopiedUnchanged) {
    testsupport::TempDir dir;
    Window w(Manifest(), dir.path.string());
    w.form->TestMode = 2;
    AddDrive(w, "A:\\ 1.41 MBytes ", -1, KindFloppy);
    w.Trigger("CreateAutostartEntries1");
    EXPECT_EQ(w.form->TestMode, 2);
    EXPECT_EQ(w.Find<QTreeWidget>("SelectParameterList")->topLevelItemCount(), 1);
}

TEST(AutostartPage, AnEmptyListLeavesThePageUsable) {
    testsupport::TempDir dir;
    Window w(Manifest(), dir.path.string());
    w.Trigger("CreateAutostartEntries1");
    EXPECT_EQ(w.form->TestMode, 1);
    auto* list = w.Find<QTreeWidget>("SelectParameterList");
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_EQ(list->currentItem(), nullptr);
    w.Click("TntBitBtn4");
    EXPECT_EQ(w.Find<QLineEdit>("TntEdit2")->text(), "Parameterstring");
    w.Click("installbutton");
    EXPECT_TRUE(std::filesystem::exists(dir.path.string() + "/autostart/scandor.desktop"));
    EXPECT_EQ(w.CurrentPage(), 6);
}

TEST(AutostartPage, OpenedBeforeAnyTestItBuildsTheSmartList) {
    testsupport::TempDir dir;
    Window w(R"({"startupFolder": "autostart", "executable": "/opt/kaveno/scandor", "drives": [
        {"path": "\\\\.\\PhysicalDrive0", "size": 1048576, "wmi": {"Model": "ATA DISK"},
         "ide": {"positions": {"0": {"identify": {"model": "ATA DISK", "serial": "1", "sectors": 2048}}}}},
        {"path": "\\\\.\\PhysicalDrive1", "size": 1048576, "wmi": {"Model": "NO ATA"}}]})",
             dir.path.string());
    w.Trigger("CreateAutostartEntries1");
    EXPECT_EQ(w.form->TestMode, 1);
    auto* list = w.Find<QTreeWidget>("SelectParameterList");
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "ATA DISK 1.00 MBytes ");
    EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
    EXPECT_EQ(w.Find<QListWidget>("DrivesListView")->count(), 1);
    w.Click("TntBitBtn4");
    EXPECT_EQ(w.Find<QLineEdit>("TntEdit2")->text(), "0 \"MyLogFile\"");
}
