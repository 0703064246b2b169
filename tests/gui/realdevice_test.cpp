// The whole sector test through the window on a real block device: a loop
// device over a FUSE file whose chosen ranges fail with EIO.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QPlainTextEdit>

#include "linux/devices.h"
#include "platform/linux/devicemap.h"
#include "platform/linux/linux_platform.h"
#include "shell/ui/driveitems.h"
#include "window.h"

TEST(SectorTestOnARealDevice, TheReportNamesExactlyTheFailingBlocks) {
    if (std::string why = devtest::FuseUnavailable(); !why.empty()) GTEST_SKIP() << why;
    devtest::TempDir dir;
    const int64_t size = 16LL << 20;  // 256 blocks
    // Bad bytes in blocks 3, 100 (two ranges) and the last one, 255.
    devtest::BadFile disk(dir / "mnt", size, "196608:512,6553600:1,6600000:4096,16776704:512");
    ASSERT_TRUE(disk.ok()) << "the FUSE file did not come up";
    devtest::LoopDevice loop(disk.file(), "-r --direct-io=on");
    REQUIRE_ATTACHED(loop);

    platform::linuxbe::LinuxPlatform machine(dir / "HKLM.reg");
    testsupport::ScriptedDialogs dialogs;
    TMainForm form(machine, &dialogs);
    form.findChild<QAbstractButton*>("sectortestbutton")->click();
    ASSERT_EQ(form.TestMode, 2);

    auto* list = form.findChild<QListWidget*>("DrivesListView");
    QListWidgetItem* ours = nullptr;
    for (int i = 0; i < list->count(); ++i) {
        DriveRecord r = RecordOf(list->item(i));
        if (r && platform::linuxbe::DeviceNodeForPath(r->DevicePath) == loop.node()) ours = list->item(i);
    }
    ASSERT_NE(ours, nullptr) << "the loop device is not in the drive list";
    EXPECT_TRUE(ours->text().endsWith("16.00 MBytes ")) << ours->text().toStdString();
    list->setCurrentItem(ours);
    form.DrivesListViewDblClick();

    EXPECT_EQ(form.EndSector, 32768);
    const QString log = form.findChild<QPlainTextEdit*>("ProcessInfo")->toPlainText();
    std::vector<std::string> errors;
    for (const QString& line : log.split('\n'))
        if (line.startsWith("Sector Error @: ")) errors.push_back(line.toStdString());
    EXPECT_EQ(errors, (std::vector<std::string>{"Sector Error @: 384", "Sector Error @: 12800",
                                                "Sector Error @: 32640"}));
    const QStringList report = form.findChild<QPlainTextEdit*>("Report")->toPlainText().split('\n');
    ASSERT_EQ(report.size(), 19);
    EXPECT_EQ(report[12].toStdString(), "Test stops @ sector: 32768");
    EXPECT_EQ(report[14].toStdString(), "Sector Read Errors: 3");
    EXPECT_EQ(report[15].toStdString(), ":(");
}
