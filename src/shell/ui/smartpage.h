// The "S.M.A.R.T. Values" page's list: attribute rows with their bars, the bars
// kept over the "Visual" column, and the report read back from the list.
#pragma once

#include <QObject>
#include <QRect>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "smart/smarttest.h"

class QPlainTextEdit;
class QTreeWidget;
class QTreeWidgetItem;
class TGradientBar;

namespace smartpage {

constexpr int VisualColumn = 2;

// Lines between the rows and the columns, as the list's grid-line style draws them.
void ShowGridLines(QTreeWidget* list);

// The row's bar, or nullptr for a summary row.
TGradientBar* BarOf(const QTreeWidgetItem* item);

// Frees the bar of every row, then clears the rows.
void ClearRows(QTreeWidget* list);

// Sets the seven captions and adds the summary rows and one row per attribute,
// each attribute row with its bar, placed on its rectangle.
void FillRows(QTreeWidget* list, const SmartTestOutcome& outcome);

// The bar rectangle of a row in the list's viewport: the row's bounds, from the
// left edge of column 0 plus the widths of columns 0 and 1, as wide as column 2,
// one pixel in from the top and the bottom.
QRect BarRect(const QTreeWidget* list, const QTreeWidgetItem* item);

// Calls place(item) whenever a row's bar rectangle may have moved: a column
// border dragged, the list scrolled or resized, rows added, removed or re-laid.
// The watcher is owned by the list.
void WatchBarGeometry(QTreeWidget* list, std::function<void(QTreeWidgetItem*)> place);

// The report lines, read from the list and the identification line.
std::vector<std::string> ReportFromList(const QTreeWidget* list, const QString& resInfo,
                                        const std::string& dateTime, const std::string& computer,
                                        const std::string& user, const std::string& ip);

// Tab stops given in dialog units, converted to pixels with the memo font's
// average character width, as the edit control of Windows does.
void SetTabStops(QPlainTextEdit* memo, const std::vector<int>& dialogUnits);
// Pixels of a number of horizontal dialog units for the memo's font.
int DialogUnitsToPixels(const QPlainTextEdit* memo, int dialogUnits);

}  // namespace smartpage
