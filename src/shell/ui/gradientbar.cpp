#include "shell/ui/gradientbar.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <cmath>

TGradientBar::TGradientBar(QWidget* parent) : QWidget(parent) {
    SetColorScheme(csGrass);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TGradientBar::SetMinimum(int v) { min_ = v; update(); }
void TGradientBar::SetMaximum(int v) { max_ = v; update(); }
void TGradientBar::SetPosition(int v) { pos_ = v; update(); }

void TGradientBar::SetColorScheme(ColorScheme) {
    BorderColor = QColor(0x37, 0x6F, 0x15);
    BackColorFace = QColor(0xDC, 0xF5, 0xCB);
    BackColorGradient = QColor(0xFF, 0xFF, 0xFF);
    ForeColorFace = QColor(0xDB, 0xF5, 0xC9);
    ForeColorGradient = QColor(0x62, 0xC1, 0x28);
    update();
}

int TGradientBar::FilledWidth(int innerWidth) const {
    if (max_ <= min_ || innerWidth <= 0) return 0;
    double share = double(pos_ - min_) / double(max_ - min_);
    long w = std::lround(innerWidth * share);
    // A position outside the range still draws inside the border.
    return int(std::clamp<long>(w, 0, innerWidth));
}

void TGradientBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect outer = rect();
    p.setPen(BorderColor);
    p.setBrush(Qt::NoBrush);
    p.drawRect(outer.adjusted(0, 0, -1, -1));
    const QRect inner = outer.adjusted(1, 1, -1, -1);
    if (inner.isEmpty()) return;

    QLinearGradient back(inner.topLeft(), inner.bottomLeft());
    back.setColorAt(0, BackColorFace);
    back.setColorAt(1, BackColorGradient);
    p.fillRect(inner, back);

    const int filled = FilledWidth(inner.width());
    if (filled > 0) {
        QLinearGradient fore(inner.topLeft(), inner.bottomLeft());
        fore.setColorAt(0, ForeColorFace);
        fore.setColorAt(1, ForeColorGradient);
        p.fillRect(QRect(inner.left(), inner.top(), filled, inner.height()), fore);
    }
}
