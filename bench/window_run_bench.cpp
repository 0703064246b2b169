// Runs a whole sector test through the window (offscreen), as a double click on
// the drive list does, and prints "<bytes> <seconds> <failed blocks>". Driven by
// window_speed.sh, which compares it with the bare sector reader.
#include <QApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "drive/harddrive.h"
#include "platform/linux/linux_platform.h"
#include "shell/ui/dialogs.h"
#include "shell/ui/driveitems.h"
#include "shell/ui/mainform.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    const std::string hive = (std::filesystem::temp_directory_path() / "scandor-bench-hive.reg").string();
    platform::linuxbe::LinuxPlatform machine(hive);
    THardDrive probe(machine, argv[1]);
    if (!probe.GeometryValid || probe.TotalBytes <= 0) {
        std::fprintf(stderr, "%s: cannot size the device\n", argv[1]);
        return 1;
    }
    Dialogs dialogs;
    TMainForm form(machine, &dialogs);
    form.show();
    auto record = std::make_shared<TBigDriveInformation>();
    record->DisplayName = "bench ";
    record->DevicePath = argv[1];
    record->PartitionInfo = probe.PartitionInfo;
    record->Identity = probe.Identity;  // as the list fill records it
    auto* list = form.findChild<QListWidget*>("DrivesListView");
    auto* item = new QListWidgetItem("bench", list);
    AttachRecord(item, record);
    list->setCurrentItem(item);
    form.TestMode = 2;

    const auto t0 = std::chrono::steady_clock::now();
    form.DrivesListViewDblClick();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::filesystem::remove(hive);
    const long long bytes = form.EndSector * 512;
    std::printf("%lld %.6f %lld\n", bytes, seconds, static_cast<long long>(form.ErrorCount));
    return 0;
}
