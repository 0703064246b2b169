#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeWidget>
#include <stdexcept>

#include "window.h"

using testsupport::Window;

TEST(MainWindowStartup, ShowsOnlySelectTestWithTheProgramCaption) {
    Window w;
    EXPECT_EQ(w.form->windowTitle(), "Free KAVENO Scandor 1.1");
    EXPECT_EQ(w.CurrentPage(), 6);
    EXPECT_EQ(w.VisibleTabs(), 1);
    EXPECT_EQ(w.Pages()->tabText(6), "Select Test");
    EXPECT_TRUE(w.Log().isEmpty());
    EXPECT_EQ(w.form->TestMode, 0);
    EXPECT_FALSE(w.form->AbortRequested);
}

TEST(MainWindowStartup, PagesAndComponentsCarryTheirNamesAndCaptions) {
    Window w;
    const char* captions[] = {"Select Drive", "Email Option", "Drive Test", "Report", "Test",
                              "S.M.A.R.T. Values", "Select Test", "Create Autostart Entry"};
    ASSERT_EQ(w.Pages()->count(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(w.Pages()->tabText(i), captions[i]) << i;
        EXPECT_EQ(w.Pages()->widget(i)->objectName(), QString("TabSheet%1").arg(i + 1));
    }
    for (const char* name : {"DrivesListView", "sendemailceckbox", "EMailEdit", "EMailFromEdit", "HostEdit",
                             "UsernameEdit", "PasswordEdit", "TntBitBtn3", "CancelEmailSetting",
                             "TntSpeedButton3", "TntSpeedButton5", "Progress", "StartSectorLabel",
                             "EndSectorLabel", "sectorErrors", "RemainingTimeLabel", "UsedTimeLabel",
                             "EmailEditcopy", "TntSpeedButton1", "Report", "TntSpeedButton4",
                             "TntSpeedButton2", "TntBitBtn1", "TntBitBtn2", "ResInfo", "ListView",
                             "TntSpeedButton8", "TntSpeedButton9", "SmarttestButton", "sectortestbutton",
                             "creatautostartgroup", "SelectParameterList", "TntEdit1", "TntSpeedButton6",
                             "TntBitBtn4", "TntEdit2", "installbutton", "cancelbutton", "TntSplitter1",
                             "ProcessInfo", "TntStatusBar1", "MainMenu"})
        EXPECT_NE(w.Find(name), nullptr) << name;
    EXPECT_EQ(w.Find<QPlainTextEdit>("Report")->toPlainText(), "Drive Test Report");
    auto* list = w.Find<QTreeWidget>("ListView");
    ASSERT_EQ(list->columnCount(), 7);
    const int widths[] = {140, 40, 120, 40, 40, 40, 40};
    for (int c = 0; c < 7; ++c) EXPECT_EQ(list->columnWidth(c), widths[c]) << c;
    EXPECT_EQ(w.Find<QSplitter>("TntSplitter1")->handleWidth(), 3);
    for (const char* label : {"StartSectorLabel", "EndSectorLabel", "sectorErrors", "RemainingTimeLabel", "UsedTimeLabel"})
        EXPECT_EQ(w.Find<QLabel>(label)->text(), "0") << label;
}

TEST(MainWindowStartup, MenuHasItsHiddenItems) {
    Window w;
    EXPECT_FALSE(w.Find<QAction>("CreateAutostartEntries1")->isVisible());
    EXPECT_FALSE(w.Find<QAction>("Help2")->isVisible());
    for (const char* visible : {"SmartTestSubMenu", "SectorTestMenu", "eMailSetting1",
                                "InfoaboutKAVENOScandor1", "InfoaboutKAVENOSalvex1"})
        EXPECT_TRUE(w.Find<QAction>(visible)->isVisible()) << visible;
    EXPECT_FALSE(w.Find<QAbstractButton>("TntSpeedButton3")->isVisibleTo(w.Pages()->widget(1)));
    EXPECT_FALSE(w.Find<QAbstractButton>("TntSpeedButton5")->isVisibleTo(w.Pages()->widget(1)));
}

TEST(MainWindowNavigation, EveryPageSwitchLeavesExactlyOneTab) {
    Window w;
    w.form->show();
    for (int i : {0, 7, 3, 3, 5, 1, 6, 2, 4}) {
        w.form->ShowPage(i);
        EXPECT_EQ(w.CurrentPage(), i);
        EXPECT_EQ(w.VisibleTabs(), 1) << i;
        EXPECT_TRUE(w.Pages()->isTabVisible(i));
        for (int p = 0; p < 8; ++p) EXPECT_EQ(w.Pages()->widget(p)->isVisible(), p == i) << i << " " << p;
    }
    w.form->ShowPage(8);  // out of range: nothing changes
    EXPECT_EQ(w.CurrentPage(), 4);
}

TEST(MainWindowNavigation, SaveAndCancelReturnByTestMode) {
    for (const char* button : {"TntBitBtn3", "CancelEmailSetting"}) {
        Window w;
        w.Trigger("eMailSetting1");
        EXPECT_EQ(w.CurrentPage(), 1);
        w.Click(button);
        EXPECT_EQ(w.CurrentPage(), 6) << button << " before any test";

        w.Click("sectortestbutton");
        EXPECT_EQ(w.form->TestMode, 2);
        EXPECT_EQ(w.CurrentPage(), 0);
        w.Trigger("eMailSetting1");
        w.Click(button);
        EXPECT_EQ(w.CurrentPage(), 0) << button << " after a test was chosen";
        EXPECT_EQ(w.VisibleTabs(), 1);
    }
}

TEST(MainWindowNavigation, TestChoicesSetTheModeAndAgainKeepsIt) {
    Window w;
    w.Trigger("SectorTestMenu");
    EXPECT_EQ(w.form->TestMode, 2);
    EXPECT_EQ(w.CurrentPage(), 0);
    w.form->ShowPage(3);
    w.Click("TntSpeedButton4");  // Again?
    EXPECT_EQ(w.CurrentPage(), 6);
    EXPECT_EQ(w.form->TestMode, 2);
    w.Click("SmarttestButton");
    EXPECT_EQ(w.form->TestMode, 1);
    EXPECT_EQ(w.CurrentPage(), 0);
    w.Trigger("SmartTestSubMenu");
    EXPECT_EQ(w.form->TestMode, 1);
}

TEST(MainWindowNavigation, OtherButtonsReachTheirPages) {
    Window w;
    w.form->ShowPage(4);
    w.Click("TntBitBtn2");  // Each Sector Surface Test
    EXPECT_EQ(w.CurrentPage(), 1);
    w.form->ShowPage(5);
    w.Click("TntSpeedButton8");  // Step Back
    EXPECT_EQ(w.CurrentPage(), 0);
    EXPECT_EQ(w.form->TestMode, 0) << "Step Back leaves the test mode alone";
    w.form->ShowPage(7);
    w.Click("cancelbutton");
    EXPECT_EQ(w.CurrentPage(), 6);
}

TEST(MainWindowNavigation, AutostartPageOnAnEmptyListChoosesTheSmartTest) {
    Window w;
    w.Trigger("CreateAutostartEntries1");
    EXPECT_EQ(w.CurrentPage(), 7);
    EXPECT_EQ(w.form->TestMode, 1);
    EXPECT_EQ(w.VisibleTabs(), 1);
}

TEST(MainWindowAbort, AbortButtonAndClosingSetTheFlag) {
    Window w;
    w.form->show();
    w.Click("TntSpeedButton1");
    EXPECT_TRUE(w.form->AbortRequested);

    Window closing;
    closing.form->show();
    EXPECT_FALSE(closing.form->AbortRequested);
    EXPECT_TRUE(closing.form->close());
    EXPECT_TRUE(closing.form->AbortRequested);
    EXPECT_FALSE(closing.form->isVisible());
}

TEST(MainWindowAbort, ReadyClosesTheWindow) {
    Window w;
    w.form->show();
    w.form->ShowPage(3);
    w.Click("TntSpeedButton2");
    EXPECT_FALSE(w.form->isVisible());
    EXPECT_TRUE(w.form->AbortRequested);
}

TEST(MainWindowLog, LogLinesAppendInOrder) {
    Window w;
    w.form->LogProcessInfo("first");
    w.form->LogProcessInfo(QString::fromUtf8("zweite Zeile \u00fc"));
    EXPECT_EQ(w.Log(), QString::fromUtf8("first\nzweite Zeile \u00fc"));
}

TEST(MainWindowLayout, ClientAreaAndFontsAsDefined) {
    Window w;
    w.form->show();
    QApplication::processEvents();
    EXPECT_EQ(w.form->width(), 604);
    EXPECT_EQ(w.form->height() - w.Find<QWidget>("MainMenu")->height(), 636);
    EXPECT_EQ(w.form->font().family(), "Arial");
    EXPECT_EQ(w.form->font().pointSize(), 8);
    auto* big = w.Find<QAbstractButton>("SmarttestButton");
    EXPECT_EQ(big->size(), QSize(345, 113));
    EXPECT_TRUE(big->font().bold());
    EXPECT_EQ(big->font().pointSize(), 12);
    EXPECT_EQ(w.Find<QWidget>("ProcessInfo")->height(), 105);
    auto* bar = w.Find<QStatusBar>("TntStatusBar1");
    EXPECT_EQ(bar->findChild<QLabel*>("TntStatusBar1Panel0")->width(), 200);
    EXPECT_EQ(bar->findChild<QLabel*>("TntStatusBar1Panel1")->width(), 50);
}
