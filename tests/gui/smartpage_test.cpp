// The "S.M.A.R.T. Values" page on simulated drives: the run's texts and rows,
// the bars over the "Visual" column, and "Print Report".
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>

#include "mousedrag.h"
#include "drive/format.h"
#include "shell/ui/driveitems.h"
#include "shell/ui/gradientbar.h"
#include "shell/ui/smartpage.h"
#include "smart/smartapi.h"
#include "window.h"

namespace fs = std::filesystem;
using testsupport::Window;

// Readable failure messages for QString comparisons.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// Catalogue IDs, enough to fill all 30 slots.
const int Ids[] = {1,   2,   3,   4,   5,   7,   8,   9,   10,  11,  12,  13,  183, 184, 187,
                   188, 189, 190, 191, 192, 193, 194, 195, 196, 197, 198, 199, 200, 14,  210};

std::string Attributes(int count) {
    std::string s = "[";
    for (int i = 0; i < count; ++i) {
        const int current = 60 + 6 * i;  // 60 ... 234: every bar maximum occurs
        s += (i ? "," : "") + std::string(R"({"id": )") + std::to_string(Ids[i]) +
             R"(, "flags": 51, "current": )" + std::to_string(current) + R"(, "worst": )" + std::to_string(current) +
             R"(, "threshold": 10, "raw": )" + std::to_string(1000 * i + 7) + "}";
    }
    return s + "]";
}

// Drive 0 answers ATA with the given attributes; drive 1 only the SCSI inquiry.
std::string Machine(const std::string& attributes, const std::string& position0Extra = "") {
    return R"({"computerName": "PC1", "userName": "anna", "hostName": "pc1", "hostAddresses": ["192.0.2.7"],
        "drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1073741824,
                    "ide": {"positions": {"0": {"identify": {"model": "SIM DISK", "serial": "S123", "sectors": 2097152},
                                                "attributes": )" +
           attributes + position0Extra + R"(}}}},
                   {"path": "\\\\.\\PhysicalDrive1", "size": 1048576, "scsi": {"text": "SCSI77"}}]})";
}

// Adds a drive-list entry for the drive and selects it, as the list fill would.
void Select(Window& w, int32_t driveNumber, int64_t bytes = 1073741824) {
    auto record = std::make_shared<TBigDriveInformation>();
    record->DisplayName = "SIM DISK";
    record->DevicePath = "\\\\.\\PhysicalDrive" + std::to_string(driveNumber);
    record->DriveNumber = driveNumber;
    record->PartitionInfo.PartitionLength = bytes;
    record->Identity = testsupport::IdentityOf(*w.machine, record->DevicePath);
    auto* list = w.Find<QListWidget>("DrivesListView");
    auto* item = new QListWidgetItem(QStringLiteral("SIM DISK"), list);
    AttachRecord(item, record);
    list->setCurrentItem(item);
    w.form->StartSector = 0;
    w.form->EndSector = bytes / 512;
}

// The identification line of drive 0 for a chosen range of 1 MByte; the size
// text follows the user's decimal separator.
QString Identified() { return QString::fromStdString("IDE Model: SIM DISK, Serial: S123, Size = " + FormatSize(1048576)); }

QTreeWidget* List(const Window& w) { return w.Find<QTreeWidget>("ListView"); }
QString ResInfo(const Window& w) { return w.Find<QLineEdit>("ResInfo")->text(); }
QStringList ReportLines(const Window& w) {
    return w.Find<QPlainTextEdit>("Report")->toPlainText().split(QChar('\n'));
}

QList<TGradientBar*> Bars(const Window& w) {
    return List(w)->viewport()->findChildren<TGradientBar*>(Qt::FindDirectChildrenOnly);
}

// Where the bar of a row belongs, measured from the header and the row itself.
QRect Expected(const QTreeWidget* list, QTreeWidgetItem* item) {
    const QRect row = list->visualItemRect(item);
    const int left = list->header()->sectionViewportPosition(smartpage::VisualColumn);
    return QRect(left, row.top() + 1, list->header()->sectionSize(smartpage::VisualColumn), row.height() - 2);
}

// Every attribute row's bar lies on its rectangle.
void ExpectBarsInPlace(const Window& w, const char* when) {
    SCOPED_TRACE(when);
    QTreeWidget* list = List(w);
    ASSERT_GT(list->topLevelItemCount(), 3);
    for (int i = 3; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        TGradientBar* bar = smartpage::BarOf(item);
        ASSERT_NE(bar, nullptr) << i;
        EXPECT_EQ(bar->geometry(), Expected(list, item)) << "row " << i;
    }
}

void Settle() {
    for (int k = 0; k < 5; ++k) QApplication::processEvents();
}

// Drags a header border with the mouse, as a user does.
void DragAndSettle(QHeaderView* header, int x, int dx) {
    DragBorder(header, x, dx);
    Settle();
}

struct EnglishNumbers {
    EnglishNumbers() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    ~EnglishNumbers() { QLocale::setDefault(QLocale::system()); }
};

}  // namespace

TEST(SmartPageRun, WithoutASelectedDriveShowsSelectDrive) {
    Window w(Machine(Attributes(3)));
    w.form->ShowPage(4);
    w.Click("TntBitBtn1");
    EXPECT_EQ(w.CurrentPage(), 0);
    EXPECT_FALSE(w.form->SmartValuesShown);
    EXPECT_EQ(List(w)->topLevelItemCount(), 0);
}

TEST(SmartPageRun, CompleteTableWithSummaryRowsAndOneBarPerAttribute) {
    EnglishNumbers english;
    Window w(Machine(R"([{"id": 5, "flags": 51, "current": 100, "worst": 100, "threshold": 36, "raw": 1234567},
                         {"id": 14, "flags": 0, "current": 101, "worst": 101, "threshold": 0, "raw": 3},
                         {"id": 190, "flags": 34, "current": 200, "worst": 180, "threshold": 45, "raw": 31},
                         {"id": 3, "flags": 3, "current": 201, "worst": 201, "threshold": 21},
                         {"id": 194, "flags": 34, "current": 31, "worst": 40, "raw": 31}])"));
    w.form->TestMode = 1;
    Select(w, 0, 1048576);
    w.form->DrivesListViewDblClick();

    EXPECT_EQ(w.CurrentPage(), 5);
    EXPECT_TRUE(w.form->SmartValuesShown);
    EXPECT_EQ(ResInfo(w), Identified());
    QTreeWidget* list = List(w);
    const char* captions[] = {"Name", "State", "Visual", "Current", "Worst", "Threshold", "Raw Value"};
    for (int c = 0; c < 7; ++c) EXPECT_EQ(list->headerItem()->text(c), captions[c]);
    ASSERT_EQ(list->topLevelItemCount(), 8);
    EXPECT_EQ(list->topLevelItem(0)->text(0), QString::fromUtf8("Temp 31\u00B0C"));
    EXPECT_EQ(list->topLevelItem(1)->text(0), "Realloc Sec 1234567");
    EXPECT_EQ(list->topLevelItem(2)->text(0), "SMART Test Passed");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(smartpage::BarOf(list->topLevelItem(i)), nullptr) << i;

    QTreeWidgetItem* realloc = list->topLevelItem(3);
    const QStringList cells = {"Reallocated Sector Count", "Warning", "", "100", "100", "36", "1,234,567"};
    for (int c = 0; c < 7; ++c) EXPECT_EQ(realloc->text(c), cells[c]) << c;
    EXPECT_EQ(list->topLevelItem(4)->text(0), "14");

    const QColor red(0xFF, 0, 0), pale(0xDC, 0xF5, 0xCB);
    struct Want { int max, pos; QColor back; };
    const Want want[] = {{100, 100, red}, {200, 101, red}, {200, 200, pale}, {255, 201, red}, {100, 31, pale}};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        TGradientBar* bar = smartpage::BarOf(list->topLevelItem(3 + i));
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->parentWidget(), list->viewport());
        EXPECT_EQ(bar->Minimum(), 0);
        EXPECT_EQ(bar->Maximum(), want[i].max);
        EXPECT_EQ(bar->Position(), want[i].pos);
        EXPECT_EQ(bar->BackColorFace, want[i].back);
        EXPECT_EQ(bar->ForeColorGradient, QColor(0x62, 0xC1, 0x28));
        EXPECT_EQ(bar->BorderColor, QColor(0x37, 0x6F, 0x15));
    }
    EXPECT_EQ(Bars(w).size(), 5);
    // The hint's stored line break shows as a line break of the log.
    const QString hint = QString::fromStdString(w.form->Messages().StrCheckValues).replace("\r\n", "\n");
    EXPECT_TRUE(w.Log().endsWith("\n" + hint) || w.Log() == hint) << w.Log().toStdString();
    EXPECT_FALSE(w.form->Messages().StrCheckValues.empty());
    EXPECT_TRUE(w.dialogs.boxes.empty());
}

TEST(SmartPageRun, EveryFailureEndsAsTextWithTheListAndItsBarsGone) {
    Window w(Machine(Attributes(4)) );
    Select(w, 0);
    w.form->startsmarttestClick();
    ASSERT_EQ(List(w)->topLevelItemCount(), 7);
    QPointer<TGradientBar> oldBar = smartpage::BarOf(List(w)->topLevelItem(3));
    ASSERT_FALSE(oldBar.isNull());

    // The SCSI-only drive.
    Select(w, 1, 1048576);
    w.form->startsmarttestClick();
    EXPECT_EQ(w.CurrentPage(), 5);
    EXPECT_EQ(ResInfo(w), "SCSI Serial: SCSI77 (NO S.M.A.R.T. support)");
    EXPECT_EQ(List(w)->topLevelItemCount(), 0);
    EXPECT_TRUE(oldBar.isNull()) << "the previous run's bars are freed";
    EXPECT_TRUE(Bars(w).isEmpty());
    EXPECT_FALSE(w.form->SmartValuesShown);

    // A drive that identifies but has no attributes.
    Window empty(Machine("[]"));
    Select(empty, 0, 1048576);
    empty.form->startsmarttestClick();
    EXPECT_EQ(ResInfo(empty), Identified() + " No SMART Attributes Returned - ");
    EXPECT_EQ(List(empty)->topLevelItemCount(), 0);
    EXPECT_FALSE(empty.form->SmartValuesShown);

    // A drive whose SMART read fails.
    Window failing(Machine(Attributes(2), R"(, "fail": {"readData": {"error": 5, "driverError": 1, "ideError": 4}})"));
    Select(failing, 0);
    failing.form->startsmarttestClick();
    EXPECT_TRUE(ResInfo(failing).startsWith("SMART Read Attr Command Failed, Drive: 0 : ")) << ResInfo(failing).toStdString();
    EXPECT_EQ(List(failing)->topLevelItemCount(), 0);
    EXPECT_TRUE(failing.dialogs.boxes.empty() && empty.dialogs.boxes.empty() && w.dialogs.boxes.empty());
    // Only a complete table adds the hint to the log.
    EXPECT_TRUE(failing.Log().isEmpty());
    EXPECT_TRUE(empty.Log().isEmpty());
}

TEST(SmartPageBars, FollowDraggedBordersScrollingResizingAndRowHeight) {
    Window w(Machine(Attributes(30)));
    Select(w, 0);
    w.form->show();
    w.form->startsmarttestClick();
    Settle();
    QTreeWidget* list = List(w);
    ASSERT_EQ(list->topLevelItemCount(), 33);
    ExpectBarsInPlace(w, "after the run");
    EXPECT_EQ(smartpage::BarOf(list->topLevelItem(3))->geometry().left(), 140 + 40);
    EXPECT_EQ(smartpage::BarOf(list->topLevelItem(3))->width(), 120);

    // Column 0's right border dragged 60 pixels to the right.
    QHeaderView* header = list->header();
    DragAndSettle(header, header->sectionViewportPosition(1) - 1, 60);
    EXPECT_EQ(list->columnWidth(0), 200);
    ExpectBarsInPlace(w, "column 0 widened");
    EXPECT_EQ(smartpage::BarOf(list->topLevelItem(3))->geometry().left(), 200 + 40);

    // The "Visual" column itself narrowed.
    DragAndSettle(header, header->sectionViewportPosition(3) - 1, -50);
    EXPECT_EQ(list->columnWidth(2), 70);
    ExpectBarsInPlace(w, "column 2 narrowed");

    // 33 rows do not fit into 414 pixels: scroll down.
    QScrollBar* vertical = list->verticalScrollBar();
    ASSERT_GT(vertical->maximum(), 0);
    const int before = smartpage::BarOf(list->topLevelItem(20))->y();
    vertical->setValue(vertical->maximum());
    Settle();
    EXPECT_LT(smartpage::BarOf(list->topLevelItem(20))->y(), before);
    ExpectBarsInPlace(w, "scrolled down");

    // Wide columns scroll sideways.
    header->resizeSection(0, 700);
    Settle();
    QScrollBar* horizontal = list->horizontalScrollBar();
    ASSERT_GT(horizontal->maximum(), 0);
    horizontal->setValue(horizontal->maximum());
    Settle();
    ExpectBarsInPlace(w, "scrolled sideways");

    w.form->resize(w.form->width() + 150, w.form->height() + 100);
    Settle();
    ExpectBarsInPlace(w, "window resized");

    // Taller rows: a larger font for the list, then for the first row alone, which
    // makes every row as tall (the rows share one height) and is announced by no
    // signal of the header or the scroll bars.
    QFont big = list->font();
    big.setPointSize(big.pointSize() * 2);
    list->setFont(big);
    Settle();
    ExpectBarsInPlace(w, "larger font");
    big.setPointSize(big.pointSize() * 2);
    list->topLevelItem(0)->setFont(0, big);
    Settle();
    ExpectBarsInPlace(w, "taller first row");
    EXPECT_GT(smartpage::BarOf(list->topLevelItem(3))->height(), 20);
}

TEST(SmartPageReport, EmptyListChangesNothing) {
    Window w(Machine(Attributes(2)));
    w.form->ShowPage(5);
    w.Click("TntSpeedButton9");
    EXPECT_EQ(w.CurrentPage(), 5);
    EXPECT_EQ(w.Find<QPlainTextEdit>("Report")->toPlainText(), "Drive Test Report");

    // Nor after a run that stopped early.
    Select(w, 1);
    w.form->startsmarttestClick();
    w.Click("TntSpeedButton9");
    EXPECT_EQ(w.CurrentPage(), 5);
    EXPECT_EQ(w.Find<QPlainTextEdit>("Report")->toPlainText(), "Drive Test Report");
}

TEST(SmartPageReport, LinesInColumnOrderWithAlignedTabStops) {
    EnglishNumbers english;
    Window w(Machine(R"([{"id": 5, "flags": 51, "current": 100, "worst": 99, "threshold": 36, "raw": 1234567},
                         {"id": 210, "flags": 0, "current": 253, "worst": 252, "threshold": 0},
                         {"id": 199, "flags": 50, "current": 200, "worst": 200, "threshold": 0, "raw": 4294967295}])"));
    Select(w, 0, 1048576);
    w.form->show();
    w.form->startsmarttestClick();
    // Column widths and bars play no part in the report.
    List(w)->header()->resizeSection(0, 30);
    List(w)->header()->resizeSection(5, 300);
    w.Click("TntSpeedButton9");
    EXPECT_EQ(w.CurrentPage(), 3);

    const QStringList lines = ReportLines(w);
    ASSERT_EQ(lines.size(), 24);
    EXPECT_EQ(lines[0], "Drive Test Report");
    EXPECT_EQ(lines[1], Identified());
    EXPECT_FALSE(lines[2].trimmed().isEmpty());
    const QStringList fixed = {"-----------------", "Computer: PC1", "User: anna", "IP: 192.0.2.7",
                               "------------------", "** SMART Values **", "------------------",
                               QString::fromUtf8("Temp 0\u00B0C"), "Realloc Sec 1234567", "SMART Test Passed",
                               "------------------", "", "Name\tState\tCurrent\tWorst\tThreshold\tRaw Value\t", "",
                               QString(76, QChar('_')),
                               "Reallocated Sector Count \tWarning\t100\t99\t36\t1,234,567",
                               "210 \t-\t253\t252\t0\t0",
                               "Ultra ATA CRC Error Rate \t-\t200\t200\t0\t-1",
                               "", "This report was generate with \"KAVENO Scandor\"", "http://www.kaveno.de"};
    EXPECT_EQ(lines.mid(3), fixed);

    // The columns line up at the tab stops, whatever the length of the name.
    QPlainTextEdit* memo = w.Find<QPlainTextEdit>("Report");
    memo->show();
    Settle();
    auto xAfterTab = [&](int line, int tab) {
        QTextBlock block = memo->document()->findBlockByNumber(line);
        int at = -1;
        for (int k = 0; k < tab; ++k) at = block.text().indexOf(QChar('\t'), at + 1);
        QTextCursor c(block);
        const int lineStart = memo->cursorRect(c).left();
        c.setPosition(block.position() + at + 1);
        return memo->cursorRect(c).left() - lineStart;
    };
    const int stops[] = {100, 140, 180, 220, 260};
    for (int tab = 1; tab <= 5; ++tab) {
        const int px = smartpage::DialogUnitsToPixels(memo, stops[tab - 1]);
        EXPECT_EQ(xAfterTab(18, tab), px) << tab;
        EXPECT_EQ(xAfterTab(19, tab), px) << tab;
        EXPECT_EQ(xAfterTab(15, tab), px) << "header " << tab;
    }
    // Tahoma 8 pt averages 5 to 7 pixels a letter: 100 dialog units are 125 to 175 pixels.
    EXPECT_GE(smartpage::DialogUnitsToPixels(memo, 100), 125);
    EXPECT_LE(smartpage::DialogUnitsToPixels(memo, 100), 175);
}

TEST(SmartPageSamples, EveryRealDumpGivesAFullTableAndReport) {
    const fs::path dir = fs::path(SCANDOR_SHARED_DIR) / "smart-samples";
    std::vector<fs::path> samples;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.path().extension() == ".blob") samples.push_back(e.path());
    std::sort(samples.begin(), samples.end());
    if (samples.empty()) GTEST_SKIP() << "no SMART samples in " << dir.string() << " (the shared folder is not beside the checkout)";

    for (const fs::path& p : samples) {
        SCOPED_TRACE(p.filename().string());
        const std::string manifest = R"({"drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1048576,
            "ide": {"positions": {"0": {"sample": ")" + p.string() + R"("}}}}]})";
        Window w(manifest);
        TSmartResult direct;
        std::string error;
        ASSERT_TRUE(ReadSmartData(*w.machine, 0, direct, error)) << error;
        ASSERT_GT(direct.AttributeCount, 0);

        Select(w, 0, 1048576);
        w.form->startsmarttestClick();
        ASSERT_TRUE(w.form->SmartValuesShown) << ResInfo(w).toStdString();
        EXPECT_TRUE(ResInfo(w).startsWith("IDE Model: " + QString::fromStdString(direct.ModelNumber) + ", Serial: "));
        QTreeWidget* list = List(w);
        ASSERT_EQ(list->topLevelItemCount(), 3 + direct.AttributeCount);
        EXPECT_EQ(list->topLevelItem(2)->text(0), direct.FailedCount ? QString("SMART Test Failed, Bad Attributes %1").arg(direct.FailedCount)
                                                                     : QString("SMART Test Passed"));
        for (int i = 0; i < direct.AttributeCount; ++i) {
            QTreeWidgetItem* item = list->topLevelItem(3 + i);
            TGradientBar* bar = smartpage::BarOf(item);
            ASSERT_NE(bar, nullptr) << i;
            EXPECT_EQ(bar->Position(), direct.CurrentValue[i]);
            EXPECT_GE(bar->Maximum(), bar->Position());
            EXPECT_EQ(item->text(1).toStdString(), direct.AttributeStatus[i]);
            EXPECT_FALSE(item->text(0).isEmpty());
        }
        w.Click("TntSpeedButton9");
        EXPECT_EQ(w.CurrentPage(), 3);
        const QStringList lines = ReportLines(w);
        ASSERT_EQ(lines.size(), 21 + direct.AttributeCount);
        for (int i = 0; i < direct.AttributeCount; ++i) {
            const QTreeWidgetItem* item = list->topLevelItem(3 + i);
            EXPECT_EQ(lines[18 + i], item->text(0) + " \t" + item->text(1) + "\t" + item->text(3) + "\t" +
                                         item->text(4) + "\t" + item->text(5) + "\t" + item->text(6));
        }
    }
}
