// How the main window looks and moves beyond its definition: wizard pages that
// only the program switches, drive captions shown whole, pages that keep their
// contents in view, the pictures of the autostart page and the hover frame of
// flat buttons.
#pragma once

#include <QStyledItemDelegate>

class QMainWindow;
class QMenuBar;
class QTabWidget;
class QWidget;

namespace windowlook {

// The property of the page control that holds the page the program last showed.
constexpr const char* ShownPageProperty = "shownPage";

// Keys (Ctrl+Tab, Ctrl+PgDn, ...), the mouse wheel and the tab bar's own arrows
// no longer change the page; any other change is turned back to the shown page.
void KeepPagesToTheProgram(QTabWidget* pages);

// Every flat push button below root shows a frame while the mouse is over it.
void AddHoverFrames(QWidget* root);

// The S.M.A.R.T. page: ResInfo on top, the list filling the rest, the two
// buttons below it at the right, all following the page's size.
void LayOutSmartPage(QWidget* page, QWidget* resInfo, QWidget* list, QWidget* back, QWidget* print);

// The pages placed by coordinates keep room for all their controls.
void KeepPagesWhole(QTabWidget* pages);

// Popup menus are windows of their own and do not inherit the bar's font.
void MenusUseTheBarFont(QMenuBar* bar);

// Centred on its screen's free area, its top left corner kept on the screen.
void CentreOnScreen(QWidget* window);

// Drive-list items sized each for its own caption: wrapped at word boundaries to
// the grid width, wider where a single word needs it, never cut.
class DriveItemDelegate : public QStyledItemDelegate {
public:
    static constexpr int ItemWidth = 140;
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace windowlook
