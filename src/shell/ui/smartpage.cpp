#include "shell/ui/smartpage.h"

#include <QEvent>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextOption>
#include <QTimer>
#include <QTreeWidget>

#include "shell/ui/gradientbar.h"
#include "smart/smartreport.h"
#include "surface/report.h"

namespace smartpage {

namespace {

constexpr int BarRole = Qt::UserRole + 2;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Follows everything that can move a row's bar rectangle. The signals place the
// bars at once; a repaint of the viewport queues one more pass, which catches what
// no signal announces (a new row height after a font or style change).
class BarWatcher : public QObject {
public:
    BarWatcher(QTreeWidget* list, std::function<void(QTreeWidgetItem*)> place)
        : QObject(list), list_(list), place_(std::move(place)) {
        QHeaderView* header = list->header();
        connect(header, &QHeaderView::sectionResized, this, [this] { PlaceAll(); });
        connect(header, &QHeaderView::sectionMoved, this, [this] { PlaceAll(); });
        connect(header, &QHeaderView::geometriesChanged, this, [this] { PlaceAll(); });
        connect(list->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { PlaceAll(); });
        connect(list->horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { PlaceAll(); });
        QAbstractItemModel* model = list->model();
        connect(model, &QAbstractItemModel::rowsInserted, this, [this] { PlaceAll(); });
        connect(model, &QAbstractItemModel::rowsRemoved, this, [this] { PlaceAll(); });
        connect(model, &QAbstractItemModel::layoutChanged, this, [this] { PlaceAll(); });
        connect(model, &QAbstractItemModel::modelReset, this, [this] { PlaceAll(); });
        list->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == list_->viewport()) {
            switch (event->type()) {
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::LayoutRequest:
                PlaceAll();
                break;
            case QEvent::Paint:
                if (!queued_) {
                    queued_ = true;
                    QTimer::singleShot(0, this, [this] {
                        queued_ = false;
                        PlaceAll();
                    });
                }
                break;
            default:
                break;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void PlaceAll() {
        for (int i = 0; i < list_->topLevelItemCount(); ++i) place_(list_->topLevelItem(i));
    }

    QTreeWidget* list_;
    std::function<void(QTreeWidgetItem*)> place_;
    bool queued_ = false;
};

// The report view's grid: a line below every row and right of every cell.
class GridDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(QColor(0xD4, 0xD0, 0xC8));
        const QRect r = option.rect;
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->restore();
    }
};

}  // namespace

void ShowGridLines(QTreeWidget* list) { list->setItemDelegate(new GridDelegate(list)); }

TGradientBar* BarOf(const QTreeWidgetItem* item) {
    if (!item) return nullptr;
    return qobject_cast<TGradientBar*>(item->data(0, BarRole).value<QObject*>());
}

void ClearRows(QTreeWidget* list) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        delete BarOf(item);
        item->setData(0, BarRole, QVariant());
    }
    list->clear();
}

QRect BarRect(const QTreeWidget* list, const QTreeWidgetItem* item) {
    // The row's full bounds start at column 0's left edge, scrolled with the list.
    const QRect row = list->visualItemRect(item);
    const int left = list->header()->sectionViewportPosition(0) + list->columnWidth(0) + list->columnWidth(1);
    return QRect(QPoint(left, row.top() + 1), QPoint(left + list->columnWidth(VisualColumn) - 1, row.bottom() - 1));
}

void FillRows(QTreeWidget* list, const SmartTestOutcome& outcome) {
    QStringList captions;
    for (const char* c : SmartColumnCaptions) captions << QString::fromLatin1(c);
    list->setHeaderLabels(captions);
    // The summary rows have no cells beside their caption; spanning the row keeps
    // the verdict readable however narrow the first column is.
    for (const std::string& s : outcome.summary) (new QTreeWidgetItem(list, QStringList{Q(s)}))->setFirstColumnSpanned(true);
    for (const SmartRow& r : outcome.attributes) {
        auto* item = new QTreeWidgetItem(
            list, QStringList{Q(r.caption), Q(r.state), QString(), Q(r.current), Q(r.worst), Q(r.threshold), Q(r.raw)});
        if (!r.bar) continue;
        auto* bar = new TGradientBar(list->viewport());
        bar->SetMinimum(0);
        bar->SetMaximum(r.barMaximum);
        bar->SetPosition(r.barPosition);
        bar->SetColorScheme(TGradientBar::csGrass);
        if (!r.temperature) bar->BackColorFace = QColor(0xFF, 0x00, 0x00);
        item->setData(0, BarRole, QVariant::fromValue(static_cast<QObject*>(bar)));
        bar->setGeometry(BarRect(list, item));
        bar->show();
    }
}

void WatchBarGeometry(QTreeWidget* list, std::function<void(QTreeWidgetItem*)> place) {
    new BarWatcher(list, std::move(place));
}

std::vector<std::string> ReportFromList(const QTreeWidget* list, const QString& resInfo,
                                        const std::string& dateTime, const std::string& computer,
                                        const std::string& user, const std::string& ip) {
    SmartReportInput in;
    in.resInfo = resInfo.toStdString();
    in.dateTime = dateTime;
    in.computer = computer;
    in.user = user;
    in.ip = ip;
    const int rows = list->topLevelItemCount();
    for (int i = 0; i < 3 && i < rows; ++i) in.summary[i] = list->topLevelItem(i)->text(0).toStdString();
    for (int c = 0; c < 7; ++c) in.columns[c] = list->headerItem()->text(c).toStdString();
    for (int i = 3; i < rows; ++i) {
        const QTreeWidgetItem* it = list->topLevelItem(i);
        in.attributes.push_back({it->text(0).toStdString(), it->text(1).toStdString(), it->text(3).toStdString(),
                                 it->text(4).toStdString(), it->text(5).toStdString(), it->text(6).toStdString()});
    }
    in.webAddress = MakerWebAddress;
    return BuildSmartReport(in);
}

int DialogUnitsToPixels(const QPlainTextEdit* memo, int dialogUnits) {
    // The average width of the 52 letters, rounded, as Windows measures a font.
    const QFontMetrics fm(memo->font());
    const int letters = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int average = (letters / 26 + 1) / 2;
    return (dialogUnits * average + 2) / 4;
}

void SetTabStops(QPlainTextEdit* memo, const std::vector<int>& dialogUnits) {
    QList<QTextOption::Tab> tabs;
    for (int du : dialogUnits) tabs.append(QTextOption::Tab(DialogUnitsToPixels(memo, du), QTextOption::LeftTab));
    QTextOption option = memo->document()->defaultTextOption();
    option.setTabs(tabs);
    memo->document()->setDefaultTextOption(option);
}

}  // namespace smartpage
