#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QTimer>
#include <fstream>
#include <nlohmann/json.hpp>

#include <QLineEdit>
#include <QPlainTextEdit>

#include "shell/ui/driveitems.h"
#include "surface/maildelivery.h"
#include "linux/devices.h"
#include "window.h"

using testsupport::Window;

namespace {

std::string Manifest(int64_t sectors, const std::string& extra = "") {
    return R"({"clock": {"start": 5000, "msPerRead": 20}, "drives": [{"path": "\\\\.\\PhysicalDrive0", "size": )" +
           std::to_string(sectors * 512) + extra + "}]}";
}

DriveRecord AddDrive(Window& w, int64_t startingOffset, int64_t partitionLength, char kind = KindPhysical,
                     int64_t totalBytes = 0) {
    auto record = std::make_shared<TBigDriveInformation>();
    record->DisplayName = "SIM DISK ";
    record->DevicePath = "\\\\.\\PhysicalDrive0";
    record->Kind = kind;
    record->PartitionInfo.StartingOffset = startingOffset;
    record->PartitionInfo.PartitionLength = partitionLength;
    record->TotalBytes = totalBytes;
    record->Identity = testsupport::IdentityOf(*w.machine, record->DevicePath);
    auto* list = w.Find<QListWidget>("DrivesListView");
    auto* item = new QListWidgetItem(QString::fromStdString(record->DisplayName), list);
    AttachRecord(item, record);
    list->setCurrentItem(item);
    return record;
}

struct RecordingSender : MailSender {
    std::vector<MailMessageData> sent;
    SmtpSettings settings;
    bool connected = false;
    void Connect(const SmtpSettings& s) override { settings = s; connected = true; }
    void Send(const MailMessageData& m) override { sent.push_back(m); }
    void Disconnect() override { connected = false; }
    bool Connected() const override { return connected; }
};

QStringList ReportLines(const Window& w) { return w.Find<QPlainTextEdit>("Report")->toPlainText().split('\n'); }

}  // namespace

TEST(DriveListDoubleClick, RangesFromTheRecordAndTheEmptyRangeBox) {
    Window w(Manifest(4096));
    w.form->TestMode = 2;
    AddDrive(w, 0, 1474560, KindFloppy, 1474560);
    w.form->AbortRequested = true;  // stop the run after its first block
    QTimer::singleShot(0, [&] { w.form->AbortRequested = true; });
    w.form->DrivesListViewDblClick();
    EXPECT_EQ(w.form->StartSector, 0);
    EXPECT_EQ(w.form->EndSector, 2880);

    Window p(Manifest(4096));
    p.form->TestMode = 2;
    AddDrive(p, 1048576, 511);  // less than one sector
    p.form->DrivesListViewDblClick();
    EXPECT_EQ(p.form->StartSector, 2048);
    EXPECT_EQ(p.form->EndSector, 2048);
    ASSERT_EQ(p.dialogs.boxes.size(), 1u);
    EXPECT_EQ(p.dialogs.boxes[0].icon, Dialogs::Error);
    EXPECT_EQ(p.CurrentPage(), 0);
    EXPECT_TRUE(p.machine->Reads().empty());
}

TEST(DriveListDoubleClick, WithoutSelectionNothingHappens) {
    Window w(Manifest(4096));
    AddDrive(w, 0, 1048576);
    const size_t opens = w.machine->Opens().size();
    w.Find<QListWidget>("DrivesListView")->clearSelection();
    w.form->ShowPage(0);
    w.form->DrivesListViewDblClick();
    EXPECT_EQ(w.CurrentPage(), 0);
    EXPECT_EQ(w.machine->Opens().size(), opens);
}

TEST(SurfaceTestWindow, RunShowsErrorsTimesAndEndsOnTheReportPage) {
    Window w(Manifest(40000, R"(, "unreadable": [{"offset": 1048576, "length": 512}])"));
    w.form->TestMode = 2;
    w.Find<QCheckBox>("sendemailceckbox")->setChecked(true);
    AddDrive(w, 0, 40000 * 512);
    w.form->DrivesListViewDblClick();
    EXPECT_EQ(w.form->EndSector, 40000);
    EXPECT_EQ(w.CurrentPage(), 3);
    EXPECT_EQ(w.Find<QLabel>("StartSectorLabel")->text(), "0");
    EXPECT_EQ(w.Find<QLabel>("EndSectorLabel")->text(), "40000");
    EXPECT_EQ(w.Find<QLabel>("sectorErrors")->text(), "1");
    EXPECT_TRUE(w.Find<QCheckBox>("EmailEditcopy")->isChecked());
    EXPECT_FALSE(w.Find<QCheckBox>("EmailEditcopy")->isEnabled());
    EXPECT_EQ(w.Find<QProgressBar>("Progress")->value(), 99);
    EXPECT_EQ(w.Find<QLabel>("UsedTimeLabel")->text(), "5 sec");
    EXPECT_TRUE(w.Log().contains("Sector Error @: 2048"));
    EXPECT_EQ(w.form->TrayHint(), QString("SIM DISK \r @: 99%\r @ sector: 39936\r19.50 MBytes  tested."));
    EXPECT_EQ(w.machine->OpenHandleCount(), 0u);
}

TEST(SurfaceTestWindow, ASecondRunStartsAtZeroErrors) {
    Window w(Manifest(1024, R"(, "unreadable": [{"offset": 0, "length": 512}])"));
    w.form->TestMode = 2;
    AddDrive(w, 0, 1024 * 512);
    w.form->DrivesListViewDblClick();
    EXPECT_EQ(w.Find<QLabel>("sectorErrors")->text(), "1");
    std::vector<QString> seen;
    QTimer::singleShot(0, [&] { seen.push_back(w.Find<QLabel>("sectorErrors")->text()); });
    w.form->DrivesListViewDblClick();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0], "0");
}

TEST(SurfaceTestWindow, AbortButtonStopsTheRunAtItsNextCheck) {
    Window w(Manifest(100000));
    w.form->TestMode = 2;
    AddDrive(w, 0, 100000LL * 512);
    w.form->show();
    QTimer::singleShot(0, [&] { w.Click("TntSpeedButton1"); });
    w.form->DrivesListViewDblClick();
    EXPECT_TRUE(w.form->AbortRequested);
    EXPECT_LE(w.machine->Reads().size(), 2u);
    EXPECT_EQ(w.CurrentPage(), 3);
}

TEST(SurfaceTestWindow, NestedStartAndListClearDuringARunAreHarmless) {
    Window w(Manifest(20000));
    w.form->TestMode = 2;
    DriveRecord record = AddDrive(w, 0, 20000 * 512);
    std::weak_ptr<TBigDriveInformation> weak = record;
    record.reset();
    int nestedRuns = 0;
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(w.form->SurfaceTestRunning());
        size_t before = w.machine->Opens().size();
        w.form->TntBitBtn1Click();  // refused while running
        nestedRuns += int(w.machine->Opens().size() - before);
        w.Find<QListWidget>("DrivesListView")->clear();  // the run keeps its record
    });
    w.form->DrivesListViewDblClick();
    EXPECT_EQ(nestedRuns, 0);
    // 157 blocks; the last crosses the end of the device, and its short read in
    // flight is settled by a plain read of the block.
    EXPECT_EQ(w.machine->Reads().size(), size_t(20000 / 128 + 1 + 1));
    EXPECT_FALSE(w.form->SurfaceTestRunning());
    EXPECT_TRUE(weak.expired()) << "the cleared item's record is freed once the run is over";
}

TEST(SurfaceTestReport, ReplacesTheMemoWithTheNineteenLines) {
    Window w(Manifest(40000, R"(, "unreadable": [{"offset": 1048576, "length": 512}])"));
    w.form->TestMode = 2;
    AddDrive(w, 0, 40000 * 512);
    w.form->DrivesListViewDblClick();
    QStringList lines = ReportLines(w);
    ASSERT_EQ(lines.size(), 19);
    EXPECT_EQ(lines[0], "Drive Test Report");
    EXPECT_EQ(lines[3], "Drives IOCTL Name: \\\\.\\PhysicalDrive0");
    EXPECT_EQ(lines[4], "Drives Real Name: SIM DISK ");
    EXPECT_EQ(lines[10], "Start Sector: 0");
    EXPECT_EQ(lines[11], "End Sector: 40000");
    EXPECT_EQ(lines[12], "Test stops @ sector: 40064");
    EXPECT_EQ(lines[14], "Sector Read Errors: 1");
    EXPECT_EQ(lines[15], ":(");
    EXPECT_FALSE(w.Log().contains("mail")) << "nothing is said about e-mail when it is not ticked";
}

TEST(SurfaceTestReport, MailedWhenTickedWithTheFieldsAsTheyStand) {
    Window w(Manifest(1000));
    RecordingSender sender;
    w.form->SetMailSender(&sender);
    w.form->TestMode = 2;
    w.Find<QCheckBox>("sendemailceckbox")->setChecked(true);
    w.Find<QLineEdit>("EMailEdit")->setText("admin@example.org, ops@example.org");
    w.Find<QLineEdit>("EMailFromEdit")->setText("scandor@example.org");
    w.Find<QLineEdit>("HostEdit")->setText("mail.example.org");
    w.Find<QLineEdit>("UsernameEdit")->setText("");
    AddDrive(w, 0, 1000 * 512);
    w.form->DrivesListViewDblClick();
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.settings.host, "mail.example.org");
    EXPECT_EQ(sender.settings.port, 25);
    EXPECT_EQ(sender.sent[0].subject, "Drive Error Report");
    EXPECT_EQ(sender.sent[0].from, "scandor@example.org");
    EXPECT_EQ(sender.sent[0].recipients.size(), 2u);
    EXPECT_NE(sender.sent[0].body.find("Test stops @ sector: 1024\r\n"), std::string::npos);
    EXPECT_NE(sender.sent[0].body.find(":-)"), std::string::npos);
    EXPECT_TRUE(w.Log().endsWith("Sending email\nEmail send."));
    EXPECT_FALSE(sender.connected);
}

TEST(SurfaceTestReport, ClosingTheWindowMidRunStillReportsAndMails) {
    Window w(Manifest(200000));
    RecordingSender sender;
    w.form->SetMailSender(&sender);
    w.form->TestMode = 2;
    w.Find<QCheckBox>("sendemailceckbox")->setChecked(true);
    AddDrive(w, 0, 200000LL * 512);
    w.form->show();
    QTimer::singleShot(0, [&] { w.form->close(); });
    w.form->DrivesListViewDblClick();
    EXPECT_TRUE(w.form->AbortRequested);
    EXPECT_LT(w.machine->Reads().size(), 10u);
    QStringList lines = ReportLines(w);
    ASSERT_EQ(lines.size(), 19);
    EXPECT_TRUE(lines[12].startsWith("Test stops @ sector: "));
    EXPECT_LT(lines[12].mid(21).toLongLong(), 200000);
    EXPECT_EQ(sender.sent.size(), 1u);
}

TEST(SurfaceTestWindow, ADriveThatCannotBeOpenedSaysSoAndWritesNoReport) {
    Window w(Manifest(1000, R"(, "failOpen": 13)"));
    w.form->TestMode = 2;
    AddDrive(w, 0, 1000 * 512);
    w.form->DrivesListViewDblClick();
    EXPECT_EQ(w.CurrentPage(), 2);
    EXPECT_EQ(w.Find<QPlainTextEdit>("Report")->toPlainText(), "Drive Test Report");
    EXPECT_TRUE(w.Log().endsWith("Cannot open \\\\.\\PhysicalDrive0: Permission denied")) << w.Log().toStdString();
    EXPECT_TRUE(w.machine->Reads().empty());
}

// A disk removed between the fill and the double click moves the drives after it
// down one number; the item's path then leads to another disk, which was read and
// reported under the picked drive's name.
TEST(DriveListDoubleClick, AListOutOfDateIsSaidAndFilledAgainInsteadOfReadingAnotherDisk) {
    Window w(R"({"drives": [
        {"path": "\\\\.\\PhysicalDrive0", "size": 4194304, "wmi": {"Model": "FIRST DISK", "InterfaceType": "IDE"}},
        {"path": "\\\\.\\PhysicalDrive1", "size": 8388608, "wmi": {"Model": "SECOND DISK", "InterfaceType": "USB"}}]})");
    w.Click("sectortestbutton");
    auto* list = w.Find<QListWidget>("DrivesListView");
    ASSERT_EQ(list->count(), 2);
    list->setCurrentItem(list->item(0));
    ASSERT_TRUE(list->item(0)->text().startsWith("FIRST DISK"));
    ASSERT_TRUE(w.machine->RemoveDrive("\\\\.\\PhysicalDrive0"));
    w.form->DrivesListViewDblClick();
    EXPECT_TRUE(w.machine->Reads().empty()) << "another disk was read for the one picked";
    ASSERT_EQ(w.dialogs.boxes.size(), 1u);
    EXPECT_EQ(w.dialogs.boxes[0].text, QString::fromUtf8(TMainForm::ListOutOfDateText));
    EXPECT_EQ(w.dialogs.boxes[0].icon, Dialogs::Error);
    EXPECT_EQ(w.CurrentPage(), 0);
    ASSERT_EQ(list->count(), 1) << "the list was not filled again";
    EXPECT_TRUE(list->item(0)->text().startsWith("SECOND DISK")) << list->item(0)->text().toStdString();
    EXPECT_TRUE(w.Log().contains(QString::fromUtf8(TMainForm::ListOutOfDateText)));

    // Picked again from the new list, the disk is read under its new number.
    list->setCurrentItem(list->item(0));
    w.form->DrivesListViewDblClick();
    EXPECT_EQ(w.machine->Reads().size(), size_t(8388608 / 65536));
    EXPECT_EQ(w.dialogs.boxes.size(), 1u);
    EXPECT_EQ(w.CurrentPage(), 3);
}

// The window's scans are kept as the drive's last scan record, like the command
// line's; one that cannot be kept is said in the log, and the report is unchanged.
TEST(SurfaceTestWindow, AScanIsKeptAsTheDrivesRecordOrTheLogSaysWhyNot) {
    devtest::TempDir dir;
    const std::string identity = R"(, "wmi": {"Model": "SIM", "SerialNumber": "W1"})";
    {
        Window w(R"({"stateFolder": "state", )" + Manifest(4096, identity).substr(1), dir.path());
        w.form->TestMode = 2;
        AddDrive(w, 0, 4096 * 512);
        w.form->DrivesListViewDblClick();
        EXPECT_EQ(w.CurrentPage(), 3);
        EXPECT_FALSE(w.Log().contains("record")) << w.Log().toStdString();
        std::ifstream in(dir / "state/SIM_W1.json");
        const auto record = nlohmann::json::parse(in, nullptr, false);
        ASSERT_TRUE(record.is_object());
        EXPECT_EQ(record["endSector"], 4096);
        EXPECT_EQ(record["blocksRead"], 32);
        EXPECT_EQ(record["completed"], true);
    }
    std::ofstream(dir / "blocked") << "a file where the folder should be";
    Window w(R"({"stateFolder": "blocked/scans", )" + Manifest(4096, identity).substr(1), dir.path());
    w.form->TestMode = 2;
    AddDrive(w, 0, 4096 * 512);
    w.form->DrivesListViewDblClick();
    EXPECT_EQ(w.CurrentPage(), 3);
    EXPECT_TRUE(w.Log().contains("The scan record was not kept: Not a directory")) << w.Log().toStdString();
    EXPECT_EQ(ReportLines(w)[0], "Drive Test Report");
}
