// Renders every page of the main window into PNG files, for a person to look at.
// Usage: scandor_pages OUTDIR   (the machine comes from SCANDOR_MACHINE as usual)
#include <QApplication>
#include <QDir>
#include <QAbstractButton>
#include <QListWidget>
#include <QTabWidget>
#include <cstdio>

#include "platform/platform.h"
#include "shell/ui/infoforms.h"
#include "shell/ui/mainform.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(".");
    auto machine = platform::CreatePlatformFromEnvironment();
    TMainForm form(*machine);
    form.show();
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
