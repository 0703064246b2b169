#include "shell/ui/blockmapwindow.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "surface/sectorreader.h"

namespace {
constexpr int Margin = 8;
constexpr int LegendRowHeight = 18;
constexpr int LegendRows = 4;  // two classes per row
}  // namespace

TBlockMapWindow::TBlockMapWindow(QWidget* owner) : QWidget(owner, Qt::Tool) {
    setObjectName("BlockMap");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    resize(520, 420);
}

TBlockMapWindow::~TBlockMapWindow() = default;

void TBlockMapWindow::Begin(const QString& driveName, int64_t endSector) {
    const int64_t blocks = endSector > 0 ? (endSector + SectorsPerRead - 1) / SectorsPerRead : 0;
    map_ = std::make_unique<TBlockMap>(blocks);
    driveName_ = driveName;
    setWindowTitle(tr("Block map") + " - " + driveName);
    if (QWidget* owner = parentWidget()) move(owner->frameGeometry().topRight() + QPoint(8, 0));
    show();
    sinceRepaint_.start();
    update();
}

void TBlockMapWindow::Block(int64_t sector, ReadClass c, uint32_t micros) {
    if (!map_) return;
    map_->Add(sector / SectorsPerRead, c, micros);
    // update() only asks for a paint; the run's next event pump draws it.
    if (sinceRepaint_.elapsed() >= RepaintIntervalMs) {
        sinceRepaint_.restart();
        update();
    }
}

void TBlockMapWindow::Finish() { update(); }

QColor TBlockMapWindow::ClassColor(int c) {
    switch (c) {
    case Under5ms: return QColor(0x2e, 0x7d, 0x32);
    case Under20ms: return QColor(0x7c, 0xb3, 0x42);
    case Under50ms: return QColor(0xc0, 0xca, 0x33);
    case Under150ms: return QColor(0xfb, 0xc0, 0x2d);
    case Under500ms: return QColor(0xf5, 0x7c, 0x00);
    case AtLeast500ms: return QColor(0x8e, 0x24, 0xaa);
    case ReadFailed: return QColor(0xd5, 0x00, 0x00);
    default: return QColor(0xe0, 0xe0, 0xe0);  // not read yet
    }
}

int TBlockMapWindow::Columns() const {
    if (!map_) return 1;
    // Square-ish cells: as many columns as fit the width's share of the cells.
    const QRect area(Margin, Margin, width() - 2 * Margin,
                     height() - 3 * Margin - LegendRows * LegendRowHeight);
    const double ratio = area.height() > 0 ? static_cast<double>(area.width()) / area.height() : 1.0;
    int cols = static_cast<int>(std::ceil(std::sqrt(map_->CellCount() * std::max(ratio, 0.1))));
    return std::clamp(cols, 1, std::max(1, map_->CellCount()));
}

QRect TBlockMapWindow::GridRect() const {
    return QRect(Margin, Margin, width() - 2 * Margin, height() - 3 * Margin - LegendRows * LegendRowHeight);
}

QRect TBlockMapWindow::CellRect(int cell) const {
    if (!map_ || cell < 0 || cell >= map_->CellCount()) return {};
    const QRect g = GridRect();
    const int cols = Columns();
    const int rows = (map_->CellCount() + cols - 1) / cols;
    const int x0 = g.left() + (cell % cols) * g.width() / cols;
    const int x1 = g.left() + (cell % cols + 1) * g.width() / cols;
    const int y0 = g.top() + (cell / cols) * g.height() / rows;
    const int y1 = g.top() + (cell / cols + 1) * g.height() / rows;
    return QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1));
}

int TBlockMapWindow::CellAt(const QPoint& p) const {
    if (!map_) return -1;
    const QRect g = GridRect();
    if (!g.contains(p)) return -1;
    const int cols = Columns();
    const int rows = (map_->CellCount() + cols - 1) / cols;
    const int col = std::min(cols - 1, (p.x() - g.left()) * cols / std::max(1, g.width()));
    const int row = std::min(rows - 1, (p.y() - g.top()) * rows / std::max(1, g.height()));
    const int cell = row * cols + col;
    return cell < map_->CellCount() ? cell : -1;
}

QString TBlockMapWindow::CellToolTip(int cell) const {
    if (!map_ || cell < 0 || cell >= map_->CellCount()) return {};
    const int64_t first = map_->FirstBlock(cell) * SectorsPerRead;
    const int64_t last = (map_->LastBlock(cell) + 1) * SectorsPerRead - 1;
    QString text = tr("Sectors %1 - %2").arg(first).arg(last);
    const TBlockMap::Cell& c = map_->At(cell);
    if (c.worst == TBlockMap::Unread) return text + "\n" + tr("not read yet");
    if (c.worst == ReadFailed) text += "\n" + tr("unreadable blocks");
    if (c.worst != ReadFailed || c.slowestUs > 0)
        text += "\n" + tr("slowest read: %1 ms").arg(c.slowestUs / 1000.0, 0, 'f', 1);
    return text;
}

bool TBlockMapWindow::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(e);
        const int cell = CellAt(help->pos());
        if (cell >= 0) QToolTip::showText(help->globalPos(), CellToolTip(cell), this, CellRect(cell));
        else QToolTip::hideText();
        return true;
    }
    return QWidget::event(e);
}

void TBlockMapWindow::paintEvent(QPaintEvent*) {
    ++paints_;
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    if (!map_) return;
    const bool gaps = CellRect(0).width() >= 4 && CellRect(0).height() >= 4;
    for (int i = 0; i < map_->CellCount(); ++i) {
        QRect r = CellRect(i);
        if (gaps) r.adjust(0, 0, -1, -1);
        p.fillRect(r, ClassColor(map_->At(i).worst));
    }
    // Legend: a swatch, the class and its count, two per row.
    const int top = GridRect().bottom() + Margin;
    const int half = (width() - 2 * Margin) / 2;
    for (int c = 0; c <= ReadClassCount; ++c) {
        const int x = Margin + (c % 2) * half;
        const int y = top + (c / 2) * LegendRowHeight;
        QString label;
        QColor colour;
        if (c < ReadClassCount) {
            colour = ClassColor(c);
            label = QString::fromLatin1(ReadClassLabel(static_cast<ReadClass>(c))) + ": " +
                    QString::number(map_->Counts()[static_cast<size_t>(c)]);
        } else {
            colour = ClassColor(TBlockMap::Unread);
            int64_t read = 0;
            for (int64_t n : map_->Counts()) read += n;
            label = tr("not read yet") + ": " + QString::number(map_->Blocks() - read);
        }
        p.fillRect(QRect(x, y + 3, 12, 12), colour);
        p.setPen(palette().windowText().color());
        p.drawText(QRect(x + 18, y, half - 20, LegendRowHeight), Qt::AlignVCenter | Qt::AlignLeft, label);
    }
}
