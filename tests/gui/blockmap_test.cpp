// The block map beside the sector test: filled as the run goes, coloured by the
// worst class of each cell, legend counts, tooltips, throttled repaints; it stays
// after the run and goes with "Again?".
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QImage>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTimer>

#include "shell/ui/blockmapwindow.h"
#include "shell/ui/driveitems.h"
#include "window.h"

using testsupport::Window;

namespace {

const int64_t Block = 65536;

void AddDrive(Window& w, int64_t bytes) {
    auto record = std::make_shared<TBigDriveInformation>();
    record->DisplayName = "SIM DISK ";
    record->DevicePath = "\\\\.\\PhysicalDrive0";
    record->Identity = testsupport::IdentityOf(*w.machine, record->DevicePath);  // as the list fill records it
    record->PartitionInfo.PartitionLength = bytes;
    auto* list = w.Find<QListWidget>("DrivesListView");
    auto* item = new QListWidgetItem("SIM DISK", list);
    AttachRecord(item, record);
    list->setCurrentItem(item);
}

std::string Manifest(int64_t blocks, const std::string& extra) {
    return R"({"clock": {"start": 0, "msPerRead": 1}, "drives": [{"path": "\\\\.\\PhysicalDrive0", "size": )" +
           std::to_string(blocks * Block) + extra + "}]}";
}

}  // namespace

TEST(BlockMapWindow, ShowsTheRunCellByCellAndStaysUntilAgain) {
    // 5000 blocks: one or two a cell. Block 2500 fails, 3500 takes 300 ms, 3501 60 ms.
    Window w(Manifest(5000, R"(, "unreadable": [{"offset": )" + std::to_string(2500 * Block) +
                                 R"(, "length": 1}], "slow": [{"offset": )" + std::to_string(3500 * Block) +
                                 R"(, "length": 1, "ms": 300}, {"offset": )" + std::to_string(3501 * Block) +
                                 R"(, "length": 1, "ms": 60}])"));
    w.form->TestMode = 2;
    w.form->show();
    AddDrive(w, 5000 * Block);
    bool shownDuringRun = false;
    int64_t readDuringRun = -1;
    QTimer::singleShot(0, [&] {
        TBlockMapWindow* map = w.form->BlockMap();
        shownDuringRun = map && map->isVisible();
        if (map) {
            readDuringRun = 0;
            for (int64_t n : map->Map()->Counts()) readDuringRun += n;
        }
    });
    w.form->DrivesListViewDblClick();
    EXPECT_TRUE(shownDuringRun);
    EXPECT_LT(readDuringRun, 5000) << "the map fills in while the run goes";
    EXPECT_TRUE(w.Log().contains("Reading: simulated, 32 reads in flight")) << w.Log().toStdString();

    TBlockMapWindow* map = w.form->BlockMap();
    ASSERT_NE(map, nullptr);
    EXPECT_TRUE(map->isVisible()) << "the map stays after the run";
    EXPECT_EQ(w.CurrentPage(), 3);
    EXPECT_FALSE(map->geometry().intersects(w.form->frameGeometry())) << "it covers nothing of the window";
    const TBlockMap& m = *map->Map();
    EXPECT_EQ(m.CellCount(), TBlockMap::DefaultCells);
    EXPECT_EQ(m.Counts()[ReadFailed], 1);
    EXPECT_EQ(m.Counts()[Under500ms], 1);
    EXPECT_EQ(m.Counts()[Under150ms], 1);
    EXPECT_EQ(m.Counts()[Under5ms], 4997);
    const int failedCell = m.CellOf(2500), slowCell = m.CellOf(3500);
    EXPECT_EQ(m.At(failedCell).worst, ReadFailed);
    EXPECT_EQ(m.At(slowCell).worst, Under500ms);
    EXPECT_EQ(m.At(0).worst, Under5ms);

    const QString tip = map->CellToolTip(slowCell);
    const int64_t first = m.FirstBlock(slowCell) * 128, last = (m.LastBlock(slowCell) + 1) * 128 - 1;
    EXPECT_TRUE(tip.startsWith(QString("Sectors %1 - %2").arg(first).arg(last))) << tip.toStdString();
    EXPECT_TRUE(tip.contains("slowest read: 301.0 ms")) << tip.toStdString();
    EXPECT_TRUE(map->CellToolTip(failedCell).contains("unreadable")) << map->CellToolTip(failedCell).toStdString();
    EXPECT_EQ(map->CellAt(map->CellRect(slowCell).center()), slowCell);

    // Drawn in code: the failed cell is red, the slow one orange, the legend says the counts.
    const QImage shot = map->grab().toImage();
    EXPECT_EQ(shot.pixelColor(map->CellRect(failedCell).topLeft()), TBlockMapWindow::ClassColor(ReadFailed));
    EXPECT_EQ(shot.pixelColor(map->CellRect(slowCell).topLeft()), TBlockMapWindow::ClassColor(Under500ms));
    EXPECT_EQ(shot.pixelColor(map->CellRect(0).topLeft()), TBlockMapWindow::ClassColor(Under5ms));

    w.Click("TntSpeedButton4");  // Again?
    EXPECT_FALSE(map->isVisible());
    EXPECT_EQ(w.CurrentPage(), 6);
}

// A long run paints the map a few times a second, not once a block.
TEST(BlockMapWindow, RepaintsAreThrottled) {
    Window w(Manifest(12000, ""));
    w.form->TestMode = 2;
    w.form->show();
    AddDrive(w, 12000 * Block);
    QElapsedTimer clock;
    clock.start();
    w.form->DrivesListViewDblClick();
    const qint64 ms = clock.elapsed();
    TBlockMapWindow* map = w.form->BlockMap();
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->Map()->Counts()[Under5ms], 12000);
    EXPECT_LE(map->Paints(), 4 + ms / TBlockMapWindow::RepaintIntervalMs * 2) << ms << " ms";
}

TEST(BlockMapWindow, ASecondRunStartsWithAnEmptyMap) {
    Window w(Manifest(300, R"(, "unreadable": [{"offset": 0, "length": 1}])"));
    w.form->TestMode = 2;
    AddDrive(w, 300 * Block);
    w.form->DrivesListViewDblClick();
    ASSERT_EQ(w.form->BlockMap()->Map()->Counts()[ReadFailed], 1);
    w.Click("TntSpeedButton4");
    AddDrive(w, 100 * Block);
    w.form->DrivesListViewDblClick();
    EXPECT_EQ(w.form->BlockMap()->Map()->Blocks(), 100);
    EXPECT_EQ(w.form->BlockMap()->Map()->Counts()[ReadFailed], 1);
    EXPECT_EQ(w.form->BlockMap()->Map()->Counts()[Under5ms], 99);
}
