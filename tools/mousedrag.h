// A mouse drag on a header border, as a user makes it: for the screenshot tool
// and the window's tests.
#pragma once

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>

inline void DragBorder(QHeaderView* header, int x, int dx) {
    QWidget* target = header->viewport();
    const int y = header->height() / 2;
    auto send = [&](QEvent::Type type, int at, Qt::MouseButtons buttons) {
        const QPointF local(at, y);
        QMouseEvent e(type, local, target->mapToGlobal(local), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(target, &e);
    };
    send(QEvent::MouseButtonPress, x, Qt::LeftButton);
    for (int step = 1; step <= 4; ++step) send(QEvent::MouseMove, x + dx * step / 4, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, x + dx, Qt::NoButton);
}
