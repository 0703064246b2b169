// What the window shows: whole drive captions, the start of ResInfo, captions
// without a program suffix, sizes and places, pictures and hover frames.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QTreeWidget>

#include "shell/ui/driveimages.h"
#include "shell/ui/infoforms.h"
#include "window.h"

using testsupport::Window;

namespace {

// The drive list of a machine whose drives have long, short and unbreakable names.
const char* kLongNames = R"({"drives": [
    {"path": "\\\\.\\PhysicalDrive0", "size": 1048576,
     "wmi": {"Model": "BIG WESTERN DIGITAL WDC WD10EZEX-08WN4A0 ATA Device"}},
    {"path": "\\\\.\\PhysicalDrive1", "size": 2097152, "wmi": {"Model": "X"}},
    {"path": "\\\\.\\PhysicalDrive2", "size": 1048576,
     "wmi": {"Model": "SAMSUNG_MZVLB512HAJQ-000L7_S4ENNX0N123456_UNBROKEN"}}]})";

QImage Grab(QWidget* w) { return w->grab().toImage(); }

}  // namespace

TEST(DriveListLook, EveryCaptionIsShownWholeWithATooltip) {
    Window w(kLongNames);
    w.form->show();
    w.Click("sectortestbutton");
    auto* list = w.Find<QListWidget>("DrivesListView");
    ASSERT_EQ(list->count(), 3);
    EXPECT_FALSE(list->uniformItemSizes());
    QApplication::processEvents();
    const QFontMetrics metrics(list->font());
    const int margins = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
    for (int i = 0; i < list->count(); ++i) {
        QListWidgetItem* item = list->item(i);
        const QRect rect = list->visualItemRect(item);
        const QString text = item->text();
        // Wrapped at word boundaries to the item's width, the caption needs this room below the icon.
        const QRect needed = metrics.boundingRect(QRect(0, 0, rect.width() - margins, 100000),
                                                  Qt::AlignHCenter | Qt::TextWordWrap, text);
        EXPECT_LE(needed.width(), rect.width() - margins) << text.toStdString();
        EXPECT_GE(rect.height(), list->iconSize().height() + needed.height()) << text.toStdString();
        EXPECT_TRUE(item->toolTip().startsWith(text + "\n")) << item->toolTip().toStdString();
    }
    EXPECT_EQ(list->item(0)->toolTip(),
              list->item(0)->text() + "\n\\\\.\\PhysicalDrive0");
    EXPECT_EQ(list->item(2)->toolTip(), list->item(2)->text() + "\n\\\\.\\PhysicalDrive2");
    // A short caption does not shrink the others (each item has its own size).
    EXPECT_GT(list->visualItemRect(list->item(0)).height(), list->visualItemRect(list->item(1)).height());
}

TEST(SmartPageLook, ResInfoShowsTheBeginningOfALongText) {
    Window w(R"({"drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1048576, "wmi": {"Model": "ATA DISK"},
        "ide": {"positions": {"0": {"identify": {"model": "ATA DISK WITH A RATHER LONG MODEL NAME", "serial": "1234567890",
        "sectors": 2048}, "attributes": [{"id": 5, "flags": 51, "current": 100, "worst": 100, "threshold": 36}],
        "fail": {"readThresholds": {"error": 5, "driverError": 2, "ideError": 4}}}}}}]})");
    w.form->show();
    w.Click("SmarttestButton");
    auto* list = w.Find<QListWidget>("DrivesListView");
    ASSERT_EQ(list->count(), 1);
    list->setCurrentItem(list->item(0));
    w.form->DrivesListViewDblClick();
    auto* res = w.Find<QLineEdit>("ResInfo");
    ASSERT_TRUE(res->text().startsWith("SMART Read Threshold Command Failed")) << res->text().toStdString();
    ASSERT_GT(QFontMetrics(res->font()).horizontalAdvance(res->text()), res->width());
    EXPECT_EQ(res->cursorPosition(), 0);
    EXPECT_LT(res->inputMethodQuery(Qt::ImCursorRectangle).toRect().left(), 8) << "the first character is in view";
}

TEST(WindowCaptions, DialogsAndInfoWindowsKeepTheirCaptionsExactly) {
    Window w;
    // Qt appends the display name to every window caption that lacks it.
    EXPECT_FALSE(QGuiApplication::applicationDisplayName().contains("KAVENO"))
        << QGuiApplication::applicationDisplayName().toStdString();
    EXPECT_EQ(w.form->windowTitle(), "Free KAVENO Scandor 1.1");
    EXPECT_EQ(w.form->TrayHint(), "KAVENO Scandor");
    EXPECT_EQ(w.form->InfoFormSalvex()->windowTitle(), "Info about KAVENO Salvex ");
    EXPECT_EQ(w.form->InfoFormScandor()->windowTitle(), "Info about KAVENO Scandor");
}

TEST(WindowGeometry, CentredWithAMinimumThatKeepsEveryPageWhole) {
    Window w;
    const QRect free = w.form->screen()->availableGeometry();
    const QRect frame = w.form->frameGeometry();
    if (frame.width() <= free.width() && frame.height() <= free.height()) {
        EXPECT_LE(std::abs(frame.center().x() - free.center().x()), 1);
        EXPECT_LE(std::abs(frame.center().y() - free.center().y()), 1);
    } else {
        EXPECT_EQ(frame.top(), free.top());
    }
    w.form->show();
    w.form->resize(420, 400);
    QApplication::processEvents();
    EXPECT_GE(w.form->width(), w.form->minimumSizeHint().width());
    for (int page : {6, 1, 2, 3, 7}) {
        w.form->ShowPage(page);
        QApplication::processEvents();
        QWidget* sheet = w.Pages()->widget(page);
        for (QWidget* child : sheet->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_TRUE(sheet->rect().contains(child->geometry()))
                << child->objectName().toStdString() << " cut on page " << page;
    }
    auto* sector = w.Find<QPushButton>("sectortestbutton");
    w.form->ShowPage(6);
    QApplication::processEvents();
    EXPECT_TRUE(w.form->rect().contains(QRect(sector->mapTo(w.form.get(), QPoint(0, 0)), sector->size())));
}

TEST(WindowGeometry, SmartPageFollowsTheWindowSize) {
    Window w;
    w.form->show();
    w.form->ShowPage(5);
    auto* res = w.Find<QLineEdit>("ResInfo");
    auto* list = w.Find<QTreeWidget>("ListView");
    auto* print = w.Find<QPushButton>("TntSpeedButton9");
    auto* back = w.Find<QPushButton>("TntSpeedButton8");
    QWidget* page = w.Pages()->widget(5);
    for (QSize size : {QSize(900, 800), QSize(700, 660)}) {
        w.form->resize(size);
        QApplication::processEvents();
        EXPECT_EQ(res->width(), page->width()) << size.width();
        EXPECT_EQ(list->width(), page->width());
        EXPECT_EQ(print->geometry().right(), page->width() - 20) << size.width();
        EXPECT_EQ(print->geometry().bottom(), page->height() - 3);
        EXPECT_EQ(list->geometry().bottom() + 3, print->geometry().top());
        EXPECT_EQ(back->geometry().top(), print->geometry().top());
        EXPECT_EQ(print->size(), QSize(113, 22));
    }
}

TEST(WindowLook, PopupMenusUseTheMenuBarFont) {
    Window w;
    auto* bar = w.Find<QMenuBar>("MainMenu");
    QList<QMenu*> menus;
    for (QAction* a : bar->actions())
        if (a->menu()) menus << a->menu();
    ASSERT_EQ(menus.size(), 3);
    for (QMenu* menu : menus) EXPECT_EQ(menu->font(), bar->font()) << menu->objectName().toStdString();
    QFont larger = bar->font();
    larger.setPointSize(11);
    bar->setFont(larger);
    for (QMenu* menu : menus) EXPECT_EQ(menu->font().pointSize(), 11);
}

TEST(WindowLook, AutostartButtonsCarryTheirPictures) {
    Window w;
    struct { const char* button; driveimages::ButtonPicture picture; } expected[] = {
        {"TntSpeedButton6", driveimages::FolderPicture},
        {"installbutton", driveimages::CheckMarkPicture},
        {"cancelbutton", driveimages::AbortPicture}};
    QList<QImage> seen;
    for (const auto& e : expected) {
        auto* b = w.Find<QAbstractButton>(e.button);
        ASSERT_FALSE(b->icon().isNull()) << e.button;
        const QImage shown = b->icon().pixmap(16, 16).toImage();
        EXPECT_EQ(shown, ButtonImage(e.picture).pixmap(16, 16).toImage()) << e.button;
        seen << shown;
    }
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_NE(seen[1], seen[2]);
    // The check mark is green, the abort picture red.
    auto dominant = [](const QImage& image, int channel) {
        qint64 sums[3] = {0, 0, 0};
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() < 128) continue;
                sums[0] += c.red(), sums[1] += c.green(), sums[2] += c.blue();
            }
        return sums[channel] > sums[(channel + 1) % 3] && sums[channel] > sums[(channel + 2) % 3];
    };
    EXPECT_TRUE(dominant(seen[1], 1));
    EXPECT_TRUE(dominant(seen[2], 0));
}

TEST(WindowLook, FlatButtonsShowAFrameWhileTheMouseIsOverThem) {
    Window w;
    w.form->show();
    for (const char* name : {"TntSpeedButton1", "TntSpeedButton4", "TntSpeedButton2", "TntSpeedButton8",
                             "TntSpeedButton9"}) {
        auto* b = w.Find<QPushButton>(name);
        ASSERT_TRUE(b->isFlat()) << name;
        const QImage plain = Grab(b);
        QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), b->mapToGlobal(QPointF(3, 3)));
        QApplication::sendEvent(b, &enter);
        const QImage hovered = Grab(b);
        EXPECT_NE(hovered.pixelColor(0, b->height() / 2), plain.pixelColor(0, b->height() / 2)) << name;
        EXPECT_NE(hovered.pixelColor(b->width() / 2, 0), plain.pixelColor(b->width() / 2, 0)) << name;
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(b, &leave);
        EXPECT_EQ(Grab(b), plain) << name;
    }
}

TEST(ProgramIcon, WindowAndTrayShowTheIconFiles) {
    Window w;
    const QImage file = QImage(QStringLiteral(SCANDOR_BINARY_DIR "/icons/hicolor/32x32/apps/de.kaveno.Scandor.png"))
                            .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ASSERT_FALSE(file.isNull()) << "the build tree holds the icon files";
    const QImage shown =
        w.form->windowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    EXPECT_TRUE(shown == file);
    const QImage tray = w.Find<QSystemTrayIcon>("inTrayIcon")->icon().pixmap(32, 32).toImage().convertToFormat(
        QImage::Format_ARGB32_Premultiplied);
    EXPECT_TRUE(tray == file);
    for (int size : {16, 22, 24, 48, 64, 128, 256})
        EXPECT_EQ(w.form->windowIcon().pixmap(size, size).size(), QSize(size, size)) << size;
}
