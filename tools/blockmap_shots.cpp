// Photographs the block map of a sector test run by the window on a real device:
// during the scan, after it, and with a cell's tooltip. Driven by
// scripts/blockmap_screenshots.sh under Xvfb.
// Usage: blockmap_shots DEVICE OUTDIR [MS_BEFORE_THE_FIRST_SHOT]
#include <QApplication>
#include <QCursor>
#include <QListWidget>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QToolTip>
#include <cstdio>
#include <filesystem>

#include "drive/harddrive.h"
#include "platform/linux/linux_platform.h"
#include "shell/ui/blockmapwindow.h"
#include "shell/ui/dialogs.h"
#include "shell/ui/driveitems.h"
#include "shell/ui/mainform.h"

namespace {

void Save(const QPixmap& pixmap, const QString& path) {
    if (!pixmap.save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    else std::printf("%s\n", qPrintable(path));
}

void Shoot(TMainForm& form, const QString& dir, const QString& name) {
    QApplication::processEvents();
    if (TBlockMapWindow* map = form.BlockMap()) {
        map->repaint();
        Save(map->grab(), dir + "/blockmap-" + name + ".png");
    }
    Save(QGuiApplication::primaryScreen()->grabWindow(0), dir + "/screen-" + name + ".png");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DEVICE OUTDIR [MS]\n", argv[0]);
        return 2;
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    const QString out = QString::fromLocal8Bit(argv[2]);
    const int during = argc > 3 ? std::atoi(argv[3]) : 2000;
    const std::string hive = (std::filesystem::temp_directory_path() / "scandor-shots-hive.reg").string();
    platform::linuxbe::LinuxPlatform machine(hive);
    THardDrive probe(machine, argv[1]);
    if (!probe.GeometryValid || probe.TotalBytes <= 0) {
        std::fprintf(stderr, "%s: cannot size the device\n", argv[1]);
        return 1;
    }
    Dialogs dialogs;
    TMainForm form(machine, &dialogs);
    form.move(10, 10);
    form.show();
    auto record = std::make_shared<TBigDriveInformation>();
    record->DisplayName = std::string(argv[1]) + " ";
    record->DevicePath = argv[1];
    record->PartitionInfo = probe.PartitionInfo;
    record->Identity = probe.Identity;
    auto* list = form.findChild<QListWidget*>("DrivesListView");
    auto* item = new QListWidgetItem("loop", list);
    AttachRecord(item, record);
    list->setCurrentItem(item);
    form.TestMode = 2;

    QTimer::singleShot(during, [&] { Shoot(form, out, "during"); });
    form.DrivesListViewDblClick();
    Shoot(form, out, "after");

    // The tooltip of the first failed cell, else of the slowest.
    TBlockMapWindow* map = form.BlockMap();
    int pick = 0;
    for (int c = 0; c < map->Map()->CellCount(); ++c) {
        const auto& cell = map->Map()->At(c);
        const auto& best = map->Map()->At(pick);
        if (cell.worst != TBlockMap::Unread && (best.worst == TBlockMap::Unread || cell.worst > best.worst)) pick = c;
    }
    const QPoint at = map->CellRect(pick).center();
    QToolTip::showText(map->mapToGlobal(at), map->CellToolTip(pick), map, map->CellRect(pick));
    for (int i = 0; i < 20; ++i) QApplication::processEvents();
    Save(QGuiApplication::primaryScreen()->grabWindow(0), out + "/screen-tooltip.png");
    std::printf("tooltip: %s\n", qPrintable(map->CellToolTip(pick)));
    std::filesystem::remove(hive);
    return 0;
}
