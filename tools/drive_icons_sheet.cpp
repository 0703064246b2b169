// Lays the drive-list pictures and the program icon side by side, for a person
// to judge: at 1x, at 64 pixels, and 4x enlarged pixel for pixel.
// Usage: drive_icons_sheet [OUT.png]   (default /tmp/drive-icons.png)
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

#include "shell/ui/driveimages.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/drive-icons.png");

    QList<QIcon> icons = DrivesImageList();
    icons.append(ProgramIcon());
    const int cell = 4 * 32 + 16;
    QImage sheet(cell * int(icons.size()), 32 + 64 + cell + 48, QImage::Format_ARGB32);
    sheet.fill(QColor(0xf0, 0xf0, 0xf0));
    QPainter p(&sheet);
    // The lower half on white, the window's other background.
    p.fillRect(0, 32 + 64 + 32, sheet.width(), sheet.height(), Qt::white);
    for (int i = 0; i < icons.size(); ++i) {
        const int x = i * cell + 8;
        const QImage small = icons[i].pixmap(32, 32).toImage();
        p.drawImage(x, 8, small);
        p.drawImage(x + 40, 8, icons[i].pixmap(64, 64).toImage());
        p.drawImage(x, 32 + 64 + 40, small.scaled(128, 128, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        p.drawText(x, 32 + 64 + 28, QString::number(i));
    }
    p.end();
    if (!sheet.save(out)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
        return 1;
    }
    return 0;
}
