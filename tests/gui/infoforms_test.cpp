#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QUrl>

#include "shell/ui/infoforms.h"
#include "window.h"

using testsupport::Window;

namespace {

struct UrlRecorder : testsupport::ScriptedDialogs {
    std::vector<QUrl> opened;
    void OpenUrl(const QUrl& url) override { opened.push_back(url); }
};

}  // namespace

TEST(InfoWindows, ExistHiddenFromTheStartAsToolWindows) {
    Window w;
    for (QWidget* info : {static_cast<QWidget*>(w.form->InfoFormScandor()),
                          static_cast<QWidget*>(w.form->InfoFormSalvex())}) {
        ASSERT_NE(info, nullptr);
        EXPECT_FALSE(info->isVisible());
        EXPECT_TRUE(info->windowFlags().testFlag(Qt::Tool));
        EXPECT_EQ(info->windowModality(), Qt::NonModal);
        EXPECT_EQ(info->font().family(), "Tahoma");
        EXPECT_EQ(info->palette().color(QPalette::Window), QColor(Qt::white));
    }
    EXPECT_EQ(w.form->InfoFormScandor()->windowTitle(), "Info about KAVENO Scandor");
    EXPECT_EQ(w.form->InfoFormSalvex()->windowTitle(), "Info about KAVENO Salvex ");
    EXPECT_EQ(w.form->InfoFormScandor()->size(), QSize(358, 238));
    EXPECT_EQ(w.form->InfoFormSalvex()->size(), QSize(341, 230));
}

TEST(InfoWindows, OpeningTwiceShowsTheSameWindowCentredOverTheMainWindow) {
    Window w;
    w.form->show();
    w.Trigger("InfoaboutKAVENOScandor1");
    QWidget* first = w.form->InfoFormScandor();
    ASSERT_TRUE(first->isVisible());
    w.Trigger("InfoaboutKAVENOScandor1");
    EXPECT_EQ(w.form->InfoFormScandor(), first);
    int shown = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        shown += top->objectName() == "InfoFormScandor" && top->isVisible() ? 1 : 0;
    EXPECT_EQ(shown, 1);
    EXPECT_LE((first->frameGeometry().center() - w.form->frameGeometry().center()).manhattanLength(), 2);
    EXPECT_FALSE(w.form->InfoFormSalvex()->isVisible());
    EXPECT_FALSE(first->findChild<QLabel*>("TntLabel2")->text().isEmpty());
}

TEST(InfoWindows, TheLinkOpensTheWindowsWebPage) {
    UrlRecorder dialogs;
    auto machine = testsupport::Machine("{}");
    TMainForm form(*machine, &dialogs);
    form.show();
    form.InfoaboutKAVENOSalvex1Click();
    QLabel* link = form.InfoFormSalvex()->findChild<QLabel*>("TntLabel1");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    QMouseEvent press(QEvent::MouseButtonRelease, QPointF(2, 2), link->mapToGlobal(QPointF(2, 2)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(link, &press);
    ASSERT_EQ(dialogs.opened.size(), 1u);
    EXPECT_EQ(dialogs.opened[0], QUrl(QString::fromLatin1(weblinks::Salvex)));
}

TEST(TrayIcon, StartsWithTheTitleAndSkipsUnchangedOrOverlongHints) {
    Window w;
    EXPECT_EQ(w.form->TrayHint(), "KAVENO Scandor");
    int sends = w.form->TrayHintUpdates();
    w.form->SetTrayHint("KAVENO Scandor");
    EXPECT_EQ(w.form->TrayHintUpdates(), sends);

    QString hint = "Drive\r @: 5%\r @ sector: 128\r64.00 KBytes  tested.";
    w.form->SetTrayHint(hint);
    EXPECT_EQ(w.form->TrayHint(), hint);
    EXPECT_EQ(w.form->TrayHintUpdates(), sends + 1);

    w.form->SetTrayHint(QString(300, 'x'));
    EXPECT_EQ(w.form->TrayHint().size(), TMainForm::TrayHintLimit);
    w.form->SetTrayHint(QString(400, 'x'));  // cut to the same text: not sent again
    EXPECT_EQ(w.form->TrayHintUpdates(), sends + 2);

    // A cut never leaves half of a character that needs two UTF-16 units.
    QString emoji = QString(TMainForm::TrayHintLimit - 1, 'y') + QString::fromUtf8("\xF0\x9F\x98\x80");
    w.form->SetTrayHint(emoji);
    EXPECT_EQ(w.form->TrayHint().size(), TMainForm::TrayHintLimit - 1);
}
