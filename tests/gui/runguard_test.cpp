// While a sector test runs the window stays on it, and only the program's own
// buttons and menu items move between the wizard's pages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QTimer>
#include <QWheelEvent>

#include "shell/ui/driveitems.h"
#include "window.h"

using testsupport::Window;

namespace {

QListWidgetItem* AddItem(Window& w, const std::string& name, const std::string& path, int64_t offset,
                         int64_t length) {
    auto record = std::make_shared<TBigDriveInformation>();
    record->DisplayName = name;
    record->DevicePath = path;
    record->PartitionInfo.StartingOffset = offset;
    record->PartitionInfo.PartitionLength = length;
    record->Identity = testsupport::IdentityOf(*w.machine, path);  // as the list fill records it
    auto* item = new QListWidgetItem(QString::fromStdString(name), w.Find<QListWidget>("DrivesListView"));
    AttachRecord(item, record);
    return item;
}

void SendKey(QWidget* to, int key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(to, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(to, &release);
}

}  // namespace

TEST(RunningSectorTest, ASecondStartIsRefusedAndTheReportKeepsTheRunsOwnDrive) {
    Window w(R"({"clock": {"start": 5000, "msPerRead": 20}, "drives": [
        {"path": "\\\\.\\PhysicalDrive0", "size": 10240000},
        {"path": "\\\\.\\PhysicalDrive1", "size": 67108864}]})");
    w.form->TestMode = 2;
    auto* list = w.Find<QListWidget>("DrivesListView");
    QListWidgetItem* running = AddItem(w, "SIM DISK ", "\\\\.\\PhysicalDrive0", 0, 20000 * 512);
    QListWidgetItem* other = AddItem(w, "MID DISK 20.00 GBytes ", "\\\\.\\PhysicalDrive1", 1048576, 129024LL * 512);
    list->setCurrentItem(running);
    const size_t opensBefore = w.machine->Opens().size();  // the records' identities

    int pageAfterDoubleClick = -1, pageAfterMenu = -1, pageAfterEmail = -1, listCount = -1;
    bool menusEnabled = true;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(w.form->SurfaceTestRunning());
        list->setCurrentItem(other);
        w.form->DrivesListViewDblClick();  // the user's double click on another drive
        pageAfterDoubleClick = w.CurrentPage();
        menusEnabled = w.Find<QAction>("SectorTestMenu")->isEnabled() ||
                       w.Find<QAction>("SmartTestSubMenu")->isEnabled();
        w.form->sectortestbuttonClick();  // reached however, it leads back
        w.form->SmarttestButtonClick();
        w.form->CreateAutostartEntries1Click();
        pageAfterMenu = w.CurrentPage();
        listCount = list->count();
        w.Trigger("eMailSetting1");  // the settings may be changed meanwhile ...
        w.Click("CancelEmailSetting");  // ... and lead back to the test
        pageAfterEmail = w.CurrentPage();
    });
    w.form->DrivesListViewDblClick();

    EXPECT_EQ(pageAfterDoubleClick, 2);
    EXPECT_EQ(pageAfterMenu, 2);
    EXPECT_EQ(pageAfterEmail, 2);
    EXPECT_EQ(listCount, 2) << "the list is not refilled under the running test";
    EXPECT_FALSE(menusEnabled);
    ASSERT_EQ(w.dialogs.boxes.size(), 1u);
    EXPECT_TRUE(w.dialogs.boxes[0].text.contains("running")) << w.dialogs.boxes[0].text.toStdString();
    EXPECT_EQ(w.dialogs.boxes[0].caption, "Free KAVENO Scandor 1.1");

    const QStringList lines = w.Find<QPlainTextEdit>("Report")->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 19);
    EXPECT_EQ(lines[3], "Drives IOCTL Name: \\\\.\\PhysicalDrive0");
    EXPECT_EQ(lines[4], "Drives Real Name: SIM DISK ");
    EXPECT_EQ(lines[10], "Start Sector: 0");
    EXPECT_EQ(lines[11], "End Sector: 20000");
    EXPECT_EQ(w.CurrentPage(), 3);
    const auto& opens = w.machine->Opens();
    for (size_t i = opensBefore; i < opens.size(); ++i) EXPECT_EQ(opens[i].path, "\\\\.\\PhysicalDrive0");
    EXPECT_TRUE(w.Find<QAction>("SectorTestMenu")->isEnabled());
    EXPECT_TRUE(w.Find<QAction>("SmartTestSubMenu")->isEnabled());
}

TEST(WizardPages, KeysWheelAndTabBarDoNotChangeThePage) {
    Window w;
    w.form->show();
    w.form->ShowPage(6);
    QWidget* focus = w.Find<QWidget>("SmarttestButton");
    for (int key : {int(Qt::Key_Tab), int(Qt::Key_Backtab), int(Qt::Key_PageDown), int(Qt::Key_PageUp)})
        for (int i = 0; i < 8; ++i) {
            SendKey(focus, key, Qt::ControlModifier);
            SendKey(w.Pages(), key, Qt::ControlModifier | (key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier));
            ASSERT_EQ(w.CurrentPage(), 6) << "key " << key << " press " << i;
        }
    QTabBar* bar = w.Pages()->tabBar();
    EXPECT_EQ(bar->focusPolicy(), Qt::NoFocus);
    for (int delta : {-120, 120, -120, -120, -120}) {
        QWheelEvent wheel(QPointF(5, 5), bar->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(bar, &wheel);
        ASSERT_EQ(w.CurrentPage(), 6) << delta;
    }
    SendKey(bar, Qt::Key_Right, Qt::NoModifier);
    EXPECT_EQ(w.CurrentPage(), 6);

    // Whatever else asks the page control for another page is turned back ...
    w.Pages()->setCurrentIndex(7);
    EXPECT_EQ(w.CurrentPage(), 6);
    EXPECT_TRUE(w.Pages()->widget(6)->isVisible());
    EXPECT_FALSE(w.Pages()->widget(7)->isVisible());
    // ... while the program's own moves work as before.
    w.Click("sectortestbutton");
    EXPECT_EQ(w.CurrentPage(), 0);
    EXPECT_EQ(w.VisibleTabs(), 1);
}
