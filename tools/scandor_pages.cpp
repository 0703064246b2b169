// Renders every page of the main window into PNG files, for a person to look at.
// Usage: scandor_pages OUTDIR [--smart N ...]   (the machine comes from SCANDOR_MACHINE as usual)
//   --smart N ...  instead: the S.M.A.R.T. page of each physical drive N, once as the run
//                  leaves it, once after a column border was dragged, and its report.
#include <QApplication>
#include <QEnterEvent>
#include <QDir>
#include <QAbstractButton>
#include <QHeaderView>
#include <QListWidget>
#include <QMouseEvent>
#include <QTabWidget>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>

#include "drive/harddrive.h"
#include "platform/platform.h"
#include "shell/ui/driveitems.h"
#include "shell/ui/infoforms.h"
#include "shell/ui/mainform.h"
#include "mousedrag.h"

namespace {

void Settle() {
    for (int k = 0; k < 5; ++k) QApplication::processEvents();
}

bool Save(QWidget& w, const QDir& out, const QString& name) {
    Settle();
    if (w.grab().save(out.filePath(name))) return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(out.filePath(name)));
    return false;
}

int SmartPages(TMainForm& form, platform::Platform& machine, const QDir& out, int argc, char** argv) {
    auto* drives = form.findChild<QListWidget*>("DrivesListView");
    auto* list = form.findChild<QTreeWidget*>("ListView");
    // The S.M.A.R.T. drive list as the user gets it.
    form.findChild<QAbstractButton*>("SmarttestButton")->click();
    Settle();
    if (!Save(form, out, "smart-drive-list.png")) return 1;
    for (int a = 3; a < argc; ++a) {
        const int n = std::atoi(argv[a]);
        QListWidgetItem* item = nullptr;
        for (int i = 0; i < drives->count() && !item; ++i)
            if (DriveRecord r = RecordOf(drives->item(i)); r && r->DriveNumber == n) item = drives->item(i);
        if (!item) {
            // A drive the list leaves out (no ATA answer): the entry it would have had.
            auto record = std::make_shared<TBigDriveInformation>();
            record->DevicePath = "\\\\.\\PhysicalDrive" + std::to_string(n);
            record->DriveNumber = n;
            const THardDrive probe(machine, record->DevicePath);
            record->PartitionInfo = probe.PartitionInfo;
            record->Identity = probe.Identity;
            item = new QListWidgetItem(QString::fromStdString(record->DevicePath), drives);
            AttachRecord(item, record);
        }
        drives->setCurrentItem(item);
        form.DrivesListViewDblClick();
        if (!Save(form, out, QString("smart-drive%1.png").arg(n))) return 1;
        QHeaderView* header = list->header();
        DragBorder(header, header->sectionViewportPosition(1) - 1, 70);
        DragBorder(header, header->sectionViewportPosition(3) - 1, -40);
        if (!Save(form, out, QString("smart-drive%1-dragged.png").arg(n))) return 1;
        header->resizeSection(0, 140);
        header->resizeSection(2, 120);
        form.TntSpeedButton9Click();
        if (!Save(form, out, QString("smart-drive%1-report.png").arg(n))) return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool smart = argc > 2 && std::string(argv[2]) == "--smart";
    if (argc != 2 && !smart) {
        std::fprintf(stderr, "usage: %s OUTDIR [--smart N ...]\n", argv[0]);
        return 2;
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(".");
    auto machine = platform::CreatePlatformFromEnvironment();
    TMainForm form(*machine);
    form.show();
    if (smart) return SmartPages(form, *machine, out, argc, argv);
    auto* pages = form.findChild<QTabWidget*>("ProcessControl");
    for (int i = 0; i < TMainForm::PageCount; ++i) {
        form.ShowPage(i);
        for (int k = 0; k < 5; ++k) QApplication::processEvents();
        QString name = QString("page%1-%2.png").arg(i).arg(pages->tabText(i).replace(' ', '_').remove('.'));
        if (!form.grab().save(out.filePath(name))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(out.filePath(name)));
            return 1;
        }
    }
    // A sector test on the first drive of the machine, as a user would run it.
    auto settle = [] { for (int k = 0; k < 5; ++k) QApplication::processEvents(); };
    form.findChild<QAbstractButton*>("sectortestbutton")->click();
    settle();
    form.grab().save(out.filePath("flow1-drive-list.png"));
    auto* list = form.findChild<QListWidget*>("DrivesListView");
    if (list->count() > 0) {
        list->setCurrentRow(0);
        form.DrivesListViewDblClick();
        settle();
        form.grab().save(out.filePath("flow3-report.png"));
        // A flat button with the mouse over it.
        auto* again = form.findChild<QAbstractButton*>("TntSpeedButton4");
        QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), again->mapToGlobal(QPointF(3, 3)));
        QApplication::sendEvent(again, &enter);
        settle();
        form.grab().save(out.filePath("flow3-report-hover.png"));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(again, &leave);
        form.ShowPage(2);
        settle();
        form.grab().save(out.filePath("flow2-drive-test-finished.png"));
    }
    form.ShowPage(6);
    form.InfoaboutKAVENOScandor1Click();
    form.InfoaboutKAVENOSalvex1Click();
    for (int k = 0; k < 5; ++k) QApplication::processEvents();
    form.InfoFormScandor()->grab().save(out.filePath("info-scandor.png"));
    form.InfoFormSalvex()->grab().save(out.filePath("info-salvex.png"));
    return 0;
}
