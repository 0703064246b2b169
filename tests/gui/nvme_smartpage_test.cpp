// The "S.M.A.R.T. Values" page for an NVMe drive: its rows, the three bars,
// the summary rows and "Print Report".
#include <gtest/gtest.h>

#include <QListWidget>
#include <QLineEdit>
#include <QLocale>
#include <QTreeWidget>

#include "drive/format.h"
#include "shell/ui/driveitems.h"
#include "shell/ui/gradientbar.h"
#include "shell/ui/smartpage.h"
#include "window.h"

using testsupport::Window;

namespace {

std::string Machine(const std::string& health) {
    return R"({"computerName": "PC1", "userName": "anna", "hostName": "pc1", "hostAddresses": ["192.0.2.7"],
        "drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1073741824,
                    "nvme": {"model": "SIM NVME", "serial": "N123", "firmware": "1.0", "wctemp": 343, "cctemp": 358,
                             "nsze": 2097152, "health": )" +
           health + "}}]}";
}

void Select(Window& w) {
    auto record = std::make_shared<TBigDriveInformation>();
    record->DisplayName = "SIM NVME";
    record->DevicePath = "\\\\.\\PhysicalDrive0";
    record->DriveNumber = 0;
    record->PartitionInfo.PartitionLength = 1048576;
    record->Identity = testsupport::IdentityOf(*w.machine, record->DevicePath);  // as the list fill records it
    auto* list = w.Find<QListWidget>("DrivesListView");
    auto* item = new QListWidgetItem(QStringLiteral("SIM NVME"), list);
    AttachRecord(item, record);
    list->setCurrentItem(item);
    w.form->StartSector = 0;
    w.form->EndSector = 2048;
}

struct EnglishNumbers {
    EnglishNumbers() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    ~EnglishNumbers() { QLocale::setDefault(QLocale::system()); }
};

QTreeWidgetItem* Row(QTreeWidget* list, const QString& caption) {
    for (int i = 3; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0).startsWith(caption)) return list->topLevelItem(i);
    return nullptr;
}

}  // namespace

TEST(NvmeSmartPage, RowsBarsAndSummaryOfAHealthyDrive) {
    EnglishNumbers english;
    Window w(Machine(R"({"compositeTemperature": 311, "availableSpare": 97, "availableSpareThreshold": 10,
                         "percentageUsed": 4, "dataUnitsRead": "18446744073709551616", "powerOnHours": 1234,
                         "temperatureSensors": [313]})"));
    Select(w);
    w.form->startsmarttestClick();
    EXPECT_TRUE(w.form->SmartValuesShown);
    EXPECT_EQ(w.Find<QLineEdit>("ResInfo")->text(),
              QString::fromStdString("NVMe Model: SIM NVME, Serial: N123, Size = " + FormatSize(1048576)));
    QTreeWidget* list = w.Find<QTreeWidget>("ListView");
    ASSERT_EQ(list->topLevelItemCount(), 3 + 19);
    EXPECT_EQ(list->topLevelItem(0)->text(0), QString::fromUtf8("Temp 38\u00B0C"));
    EXPECT_EQ(list->topLevelItem(1)->text(0), "Media Errors 0");
    EXPECT_EQ(list->topLevelItem(2)->text(0), "SMART Test Passed");

    QTreeWidgetItem* temp = Row(list, "Composite Temperature");
    ASSERT_NE(temp, nullptr);
    const QStringList cells = {"Composite Temperature", "OK", "", "38", "", "70", "311"};
    for (int c = 0; c < 7; ++c) EXPECT_EQ(temp->text(c), cells[c]) << c;
    EXPECT_EQ(Row(list, "Data Units Read")->text(6), "18,446,744,073,709,551,616");
    EXPECT_EQ(Row(list, "Power On Hours")->text(6), "1,234");
    EXPECT_EQ(Row(list, "Temperature Sensor 1")->text(3), "40");

    // Bars only on spare, remaining life and temperature; the temperature keeps the pale face.
    const QColor red(0xFF, 0, 0), pale(0xDC, 0xF5, 0xCB);
    TGradientBar* spare = smartpage::BarOf(Row(list, "Available Spare"));
    ASSERT_NE(spare, nullptr);
    EXPECT_EQ(spare->Maximum(), 100);
    EXPECT_EQ(spare->Position(), 97);
    EXPECT_EQ(spare->BackColorFace, red);
    TGradientBar* life = smartpage::BarOf(Row(list, "Percentage Used"));
    ASSERT_NE(life, nullptr);
    EXPECT_EQ(life->Position(), 96);
    TGradientBar* t = smartpage::BarOf(temp);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Position(), 38);
    EXPECT_EQ(t->BackColorFace, pale);
    EXPECT_EQ(smartpage::BarOf(Row(list, "Data Units Read")), nullptr);
    EXPECT_EQ(smartpage::BarOf(Row(list, "Available Spare Threshold")), nullptr);
    EXPECT_EQ(list->viewport()->findChildren<TGradientBar*>(Qt::FindDirectChildrenOnly).size(), 3);
}

TEST(NvmeSmartPage, FailingDriveAndItsPrintedReport) {
    EnglishNumbers english;
    Window w(Machine(R"({"criticalWarning": 9, "compositeTemperature": 360, "availableSpare": 5,
                         "availableSpareThreshold": 10, "percentageUsed": 120, "mediaErrors": 17})"));
    Select(w);
    w.form->startsmarttestClick();
    QTreeWidget* list = w.Find<QTreeWidget>("ListView");
    EXPECT_EQ(list->topLevelItem(1)->text(0), "Media Errors 17");
    EXPECT_EQ(list->topLevelItem(2)->text(0), "SMART Test Failed, Bad Attributes 3");
    EXPECT_EQ(Row(list, "Critical Warning")->text(0), "Critical Warning: spare below threshold, read-only");
    EXPECT_EQ(Row(list, "Critical Warning")->text(1), "Failing Now");
    EXPECT_EQ(Row(list, "Composite Temperature")->text(1), "Failing Now");
    EXPECT_EQ(Row(list, "Available Spare")->text(1), "Failing Now");
    EXPECT_EQ(Row(list, "Percentage Used")->text(1), "Warning");
    EXPECT_EQ(smartpage::BarOf(Row(list, "Percentage Used"))->Position(), 0);
    EXPECT_EQ(Row(list, "Media and Data Integrity Errors")->text(1), "Warning");

    w.Click("TntSpeedButton9");
    const QStringList lines = w.Find<QPlainTextEdit>("Report")->toPlainText().split(QChar('\n'));
    ASSERT_GT(lines.size(), 20);
    EXPECT_EQ(lines[11], "Media Errors 17");
    EXPECT_EQ(lines[12], "SMART Test Failed, Bad Attributes 3");
    EXPECT_EQ(lines[18], "Critical Warning: spare below threshold, read-only \tFailing Now\t9\t\t\t9");
    EXPECT_EQ(lines[19], "Composite Temperature \tFailing Now\t87\t\t70\t360");
    EXPECT_EQ(lines.last(), "http://www.kaveno.de");
}
