#include "shell/ui/windowlook.h"

#include <QApplication>
#include <QBoxLayout>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <algorithm>

namespace windowlook {

namespace {

bool IsPageSwitchKey(const QKeyEvent* k) {
    if (!(k->modifiers() & Qt::ControlModifier)) return false;
    switch (k->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        return true;
    default:
        return false;
    }
}

class PageGuard : public QObject {
public:
    explicit PageGuard(QTabWidget* pages) : QObject(pages), pages_(pages) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Wheel:
            return watched == pages_->tabBar();
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
            if (IsPageSwitchKey(static_cast<QKeyEvent*>(event))) {
                event->accept();
                return true;
            }
            return false;
        default:
            return false;
        }
    }

    void TurnBack(int index) {
        const QVariant shown = pages_->property(ShownPageProperty);
        if (shown.isValid() && shown.toInt() != index) pages_->setCurrentIndex(shown.toInt());
    }

private:
    QTabWidget* pages_;
};

constexpr const char* HoverProperty = "hoverFrame";

// Flat buttons on Windows show a frame and a light fill while the mouse is over them.
class HoverFrame : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* button = qobject_cast<QPushButton*>(watched);
        if (!button) return false;
        switch (event->type()) {
        case QEvent::Enter:
            button->setProperty(HoverProperty, true);
            button->update();
            return false;
        case QEvent::Leave:
        case QEvent::Hide:
            button->setProperty(HoverProperty, false);
            button->update();
            return false;
        case QEvent::Paint: {
            if (!button->isFlat() || !button->isEnabled() || !button->property(HoverProperty).toBool()) return false;
            const QColor accent = button->palette().color(QPalette::Highlight);
            const QRectF r = QRectF(button->rect()).adjusted(0.5, 0.5, -0.5, -0.5);
            {
                QPainter fill(button);
                QColor light = accent;
                light.setAlpha(button->isDown() ? 70 : 35);
                fill.fillRect(button->rect(), light);
            }
            static_cast<QObject*>(button)->event(event);
            QPainter frame(button);
            frame.setRenderHint(QPainter::Antialiasing);
            frame.setPen(QPen(accent, 1));
            frame.setBrush(Qt::NoBrush);
            frame.drawRoundedRect(r, 2, 2);
            return true;
        }
        default:
            return false;
        }
    }
};

}  // namespace

void KeepPagesToTheProgram(QTabWidget* pages) {
    auto* guard = new PageGuard(pages);
    pages->installEventFilter(guard);
    pages->tabBar()->installEventFilter(guard);
    pages->tabBar()->setFocusPolicy(Qt::NoFocus);
    QObject::connect(pages, &QTabWidget::currentChanged, guard, [guard](int index) { guard->TurnBack(index); });
}

void AddHoverFrames(QWidget* root) {
    auto* filter = new HoverFrame(root);
    for (QPushButton* b : root->findChildren<QPushButton*>()) {
        if (!b->isFlat()) continue;
        b->installEventFilter(filter);
    }
}

void LayOutSmartPage(QWidget* page, QWidget* resInfo, QWidget* list, QWidget* back, QWidget* print) {
    // The definition's geometry: buttons 2 pixels below the list, 19 from the right edge.
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 2);
    column->setSpacing(0);
    column->addWidget(resInfo);
    column->addWidget(list, 1);
    column->addSpacing(2);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 19, 0);
    row->setSpacing(3);
    row->addStretch(1);
    for (QWidget* b : {back, print}) {
        b->setFixedSize(b->size());
        row->addWidget(b);
    }
    column->addLayout(row);
}

void KeepPagesWhole(QTabWidget* pages) {
    for (int i = 0; i < pages->count(); ++i) {
        QWidget* page = pages->widget(i);
        if (page->layout()) continue;
        QRect used;
        for (QWidget* child : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) used |= child->geometry();
        page->setMinimumSize(used.right() + 1, used.bottom() + 1);
    }
}

namespace {

// Also after a translation changed the bar's font.
class BarFontFollower : public QObject {
public:
    explicit BarFontFollower(QMenuBar* bar) : QObject(bar), bar_(bar) {}
    void Apply() {
        for (QMenu* menu : bar_->findChildren<QMenu*>()) menu->setFont(bar_->font());
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == bar_ && event->type() == QEvent::FontChange) Apply();
        return false;
    }

private:
    QMenuBar* bar_;
};

}  // namespace

void MenusUseTheBarFont(QMenuBar* bar) {
    auto* follower = new BarFontFollower(bar);
    follower->Apply();
    bar->installEventFilter(follower);
}

void CentreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QApplication::primaryScreen();
    if (!screen) return;
    const QRect free = screen->availableGeometry();
    const QRect frame = window->frameGeometry();
    QPoint topLeft = free.center() - QPoint(frame.width() / 2, frame.height() / 2);
    topLeft.setX(std::max(topLeft.x(), free.left()));
    topLeft.setY(std::max(topLeft.y(), free.top()));
    window->move(topLeft);
}

QSize DriveItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    // The style keeps this margin on both sides of an item's text.
    const int margins = 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, &opt, widget) + 1);
    const QFontMetrics metrics(opt.font);
    int widestWord = 0;
    for (const QString& word : opt.text.split(QChar(' '), Qt::SkipEmptyParts))
        widestWord = std::max(widestWord, metrics.horizontalAdvance(word));
    const int width = std::max({ItemWidth, widestWord + margins + 2, opt.decorationSize.width() + margins});
    opt.rect = QRect(0, 0, width, 1);
    const QSize size = style->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), widget);
    return QSize(width, size.height());
}

}  // namespace windowlook
