#include "shell/ui/driveimages.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>

#include "shell/autostart.h"

// Everything is drawn on a 32-unit grid; one-unit outlines sit on half units so
// they fall on whole pixels at 32 and at 64 pixels.
namespace {

using Draw = void (*)(QPainter&);

struct Shades {
    QColor top, frontLight, frontDark, side, outline;
};

const Shades kGrey{QColor(0xe4, 0xe7, 0xeb), QColor(0xcf, 0xd3, 0xd8), QColor(0xa2, 0xa8, 0xb0),
                   QColor(0x84, 0x8a, 0x93), QColor(0x3f, 0x44, 0x4b)};
const Shades kOrange{QColor(0xff, 0xcf, 0x85), QColor(0xff, 0xa9, 0x3a), QColor(0xf0, 0x80, 0x00),
                     QColor(0xc0, 0x5f, 0x00), QColor(0x7a, 0x3c, 0x00)};
const QColor kSignInk(0x2a, 0x2a, 0x2a);
const QColor kPauseOrange(0xff, 0x8c, 0x00);

QPen Outline(const QColor& c, qreal width = 1.0) {
    return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A box seen from the front and a little from above and the right: the common
// shape of every closed drive here. Returns the front face.
QRectF Box(QPainter& p, const QRectF& front, qreal depth, const Shades& s) {
    const QPointF d(depth, -depth);
    const QPolygonF top{front.topLeft(), front.topLeft() + d, front.topRight() + d, front.topRight()};
    const QPolygonF side{front.topRight(), front.topRight() + d, front.bottomRight() + d, front.bottomRight()};
    p.setPen(Outline(s.outline));
    p.setBrush(s.top);
    p.drawPolygon(top);
    p.setBrush(s.side);
    p.drawPolygon(side);
    QLinearGradient g(front.topLeft(), front.bottomLeft());
    g.setColorAt(0, s.frontLight);
    g.setColorAt(1, s.frontDark);
    p.setBrush(g);
    p.drawRect(front);
    return front;
}

void Led(QPainter& p, const QRectF& r, const QColor& c) {
    p.setPen(Outline(c.darker(180)));
    p.setBrush(c);
    p.drawRect(r);
}

// A flat drive, lying down, with a slot line and a green activity light.
void Slab(QPainter& p, qreal top, qreal height) {
    QRectF f = Box(p, QRectF(2.5, top, 23, height), 5, kGrey);
    const qreal mid = f.center().y();
    p.setPen(Outline(kGrey.outline.lighter(150)));
    p.drawLine(QPointF(5.5, mid + 0.5), QPointF(16.5, mid + 0.5));
    Led(p, QRectF(21.5, mid - 0.5, 2, 2), QColor(0x3c, 0xd0, 0x3c));
}

// An external case standing upright; returns the centre of its front face.
QPointF ExternalCase(QPainter& p) {
    QRectF f = Box(p, QRectF(5.5, 7.5, 17, 21), 4, kOrange);
    Led(p, QRectF(12.5, 25.5, 3, 1), QColor(0x3c, 0xd0, 0x3c));
    return QPointF(f.center().x(), 15.5);
}

// A hard disk with its cover off: platter, spindle and head arm.
void OpenDisk(QPainter& p) {
    QLinearGradient body(0, 2, 0, 30);
    body.setColorAt(0, QColor(0xee, 0xf0, 0xf2));
    body.setColorAt(1, QColor(0xa4, 0xaa, 0xb2));
    p.setPen(Outline(kGrey.outline));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(4.5, 1.5, 23, 29), 2.5, 2.5);

    QRadialGradient platter(QPointF(13.5, 10.5), 12);
    platter.setColorAt(0, QColor(0xff, 0xff, 0xff));
    platter.setColorAt(0.6, QColor(0xc8, 0xd0, 0xda));
    platter.setColorAt(1, QColor(0x8c, 0x96, 0xa4));
    p.setPen(Outline(QColor(0x5a, 0x61, 0x6b)));
    p.setBrush(platter);
    p.drawEllipse(QPointF(16, 13), 10, 10);
    p.setBrush(QColor(0x6d, 0x74, 0x7e));
    p.drawEllipse(QPointF(16, 13), 2.5, 2.5);

    // The head arm swings from a pivot near the lower right corner.
    p.setPen(QPen(QColor(0x3a, 0x3f, 0x46), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(23, 26), QPointF(15.5, 17.5));
    p.setPen(Outline(QColor(0x3a, 0x3f, 0x46)));
    p.setBrush(QColor(0x9a, 0xa1, 0xaa));
    p.drawEllipse(QPointF(23, 26), 2.5, 2.5);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x5a, 0x61, 0x6b));
    for (QPointF c : {QPointF(7, 4), QPointF(25, 4), QPointF(7, 28)}) p.drawEllipse(c, 1, 1);
}

// The three-pronged FireWire mark, about 12 units tall around c.
void FireWireSign(QPainter& p, QPointF c) {
    QPainterPath prongs;
    prongs.moveTo(c + QPointF(0, 6));
    prongs.lineTo(c + QPointF(0, -5.5));
    prongs.moveTo(c + QPointF(0, 2));
    prongs.cubicTo(c + QPointF(-4.5, 1), c + QPointF(-5, -2), c + QPointF(-5, -4.5));
    prongs.moveTo(c + QPointF(0, 2));
    prongs.cubicTo(c + QPointF(4.5, 1), c + QPointF(5, -2), c + QPointF(5, -4.5));
    p.setPen(QPen(kSignInk, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(prongs);
    p.setPen(Qt::NoPen);
    p.setBrush(kSignInk);
    for (qreal x : {-5.0, 0.0, 5.0}) p.drawEllipse(c + QPointF(x, x == 0 ? -5.5 : -4.5), 1.6, 1.6);
}

// The USB trident: arrow head on top, a round and a square branch end, a
// round foot.
void UsbSign(QPainter& p, QPointF c) {
    QPainterPath shaft;
    shaft.moveTo(c + QPointF(0, 4.5));
    shaft.lineTo(c + QPointF(0, -3.5));
    shaft.moveTo(c + QPointF(0, 2.5));
    shaft.lineTo(c + QPointF(-4, -0.5));
    shaft.lineTo(c + QPointF(-4, -2));
    shaft.moveTo(c + QPointF(0, 1));
    shaft.lineTo(c + QPointF(4, -1.5));
    shaft.lineTo(c + QPointF(4, -3));
    p.setPen(QPen(kSignInk, 1.3, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shaft);
    p.setPen(Qt::NoPen);
    p.setBrush(kSignInk);
    p.drawPolygon(QPolygonF{c + QPointF(0, -7), c + QPointF(-2.5, -3), c + QPointF(2.5, -3)});
    p.drawEllipse(c + QPointF(-4, -2.5), 1.5, 1.5);
    p.drawRect(QRectF(c + QPointF(2.5, -5.5), QSizeF(3, 3)));
    p.drawEllipse(c + QPointF(0, 5.5), 2, 2);
}

void DrawInternalDisk(QPainter& p) { OpenDisk(p); }

void DrawPlainDrive(QPainter& p) { Slab(p, 12.5, 13); }

void DrawFireWireDrive(QPainter& p) { FireWireSign(p, ExternalCase(p)); }

void DrawUsbDrive(QPainter& p) { UsbSign(p, ExternalCase(p)); }

void DrawFolder(QPainter& p) {
    const QColor edge(0x9a, 0x6a, 0x08);
    p.setPen(Outline(edge));
    p.setBrush(QColor(0xe8, 0xb1, 0x2e));
    p.drawPolygon(QPolygonF{{2.5, 26.5}, {2.5, 5.5}, {11.5, 5.5}, {13.5, 8.5}, {27.5, 8.5}, {27.5, 26.5}});
    p.setPen(Outline(QColor(0xa8, 0xa8, 0xa8)));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(5.5, 10.5, 19, 10));
    QLinearGradient front(0, 13, 0, 27);
    front.setColorAt(0, QColor(0xff, 0xe0, 0x78));
    front.setColorAt(1, QColor(0xf5, 0xbb, 0x2c));
    p.setPen(Outline(edge));
    p.setBrush(front);
    p.drawPolygon(QPolygonF{{2.5, 26.5}, {5.5, 13.5}, {30.5, 13.5}, {27.5, 26.5}});
}

void DrawSetSquare(QPainter& p) {
    QPainterPath square;
    square.addPolygon(QPolygonF{{2.5, 29.5}, {2.5, 3.5}, {28.5, 29.5}, {2.5, 29.5}});
    square.addPolygon(QPolygonF{{7.5, 24.5}, {7.5, 14.5}, {17.5, 24.5}, {7.5, 24.5}});
    square.setFillRule(Qt::OddEvenFill);
    p.setPen(Outline(QColor(0x1f, 0x5f, 0x93)));
    p.setBrush(QColor(0x7c, 0xc4, 0xf0, 220));
    p.drawPath(square);
    p.setPen(QPen(QColor(0x1f, 0x5f, 0x93), 1));
    for (int i = 0; i < 6; ++i) {
        const qreal x = 5.5 + 4 * i;
        p.drawLine(QPointF(x, 29.5), QPointF(x, i % 2 ? 28 : 27));
    }

    // The pencil lies along the slanted edge, point down to the left.
    p.save();
    p.translate(29.5, 2.5);
    p.rotate(135);
    const QColor lead(0x33, 0x33, 0x33);
    p.setPen(Outline(QColor(0x6b, 0x4a, 0x10)));
    p.setBrush(QColor(0xf4, 0x8c, 0xa8));
    p.drawRect(QRectF(0, -2, 3, 4));
    p.setBrush(QColor(0xc0, 0xc4, 0xc8));
    p.drawRect(QRectF(3, -2, 2, 4));
    p.setBrush(QColor(0xff, 0xc8, 0x1e));
    p.drawRect(QRectF(5, -2, 14, 4));
    p.setBrush(QColor(0xf0, 0xc8, 0x96));
    p.drawPolygon(QPolygonF{{19, -2}, {24, 0}, {19, 2}});
    p.setPen(Qt::NoPen);
    p.setBrush(lead);
    p.drawPolygon(QPolygonF{{22.4, -0.7}, {24.2, 0}, {22.4, 0.7}});
    p.restore();
}

void DrawFloppyDrive(QPainter& p) {
    // The diskette stands in the slot, behind the front of the drive.
    const QColor blue(0x2a, 0x5c, 0xaa), edge(0x12, 0x2f, 0x5c);
    p.setPen(Outline(edge));
    p.setBrush(blue);
    p.drawRect(QRectF(8.5, 1.5, 15, 17));
    p.setBrush(QColor(0xd0, 0xd4, 0xda));
    p.drawRect(QRectF(11.5, 1.5, 9, 6));
    p.setPen(Qt::NoPen);
    p.setBrush(edge);
    p.drawRect(QRectF(17, 2.5, 2, 4));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(10, 10, 12, 8));

    QRectF f = Box(p, QRectF(3.5, 18.5, 22, 9), 4, kGrey);
    p.setPen(Outline(kGrey.outline));
    p.setBrush(QColor(0x30, 0x34, 0x3a));
    p.drawRect(QRectF(7.5, f.top() + 3, 12, 1));
    p.setBrush(kGrey.side);
    p.drawRect(QRectF(20.5, f.top() + 5, 3, 2));
}

void DrawPausedDisk(QPainter& p) {
    OpenDisk(p);
    p.setPen(Outline(QColor(0x8a, 0x45, 0x00)));
    p.setBrush(kPauseOrange);
    p.drawEllipse(QPointF(23, 23), 7.5, 7.5);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(19.5, 19, 2.5, 8));
    p.drawRect(QRectF(24, 19, 2.5, 8));
}

void DrawCheckMark(QPainter& p) {
    QPainterPath check;
    check.moveTo(5, 16.5);
    check.lineTo(12.5, 24.5);
    check.lineTo(27, 7.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x0f, 0x55, 0x1e), 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(check);
    p.setPen(QPen(QColor(0x2e, 0xc0, 0x4a), 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(check);
}

// A red disc with a white cross, as abort buttons carry it.
void DrawAbort(QPainter& p) {
    QRadialGradient disc(QPointF(13, 12), 16);
    disc.setColorAt(0, QColor(0xff, 0x6a, 0x5a));
    disc.setColorAt(1, QColor(0xc4, 0x1a, 0x12));
    p.setPen(Outline(QColor(0x7a, 0x0e, 0x08)));
    p.setBrush(disc);
    p.drawEllipse(QPointF(16, 16), 13.5, 13.5);
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10.5, 10.5), QPointF(21.5, 21.5));
    p.drawLine(QPointF(21.5, 10.5), QPointF(10.5, 21.5));
}

QPixmap Render(Draw draw, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / qreal(driveimages::ImageSize), size / qreal(driveimages::ImageSize));
    draw(p);
    return pixmap;
}

QIcon Icon(Draw draw) {
    QIcon icon;
    icon.addPixmap(Render(draw, driveimages::ImageSize));
    icon.addPixmap(Render(draw, 2 * driveimages::ImageSize));
    return icon;
}

}  // namespace

QList<QIcon> DrivesImageList() {
    static const Draw kDraw[driveimages::ImageCount] = {
        DrawInternalDisk, DrawPlainDrive, DrawFireWireDrive, DrawUsbDrive,
        DrawFolder,       DrawSetSquare,  DrawFloppyDrive,   DrawPausedDisk};
    QList<QIcon> list;
    for (Draw d : kDraw) list.append(Icon(d));
    return list;
}

QIcon ButtonImage(driveimages::ButtonPicture picture) {
    const Draw draw = picture == driveimages::FolderPicture      ? DrawFolder
                      : picture == driveimages::CheckMarkPicture ? DrawCheckMark
                                                                 : DrawAbort;
    QIcon icon;
    icon.addPixmap(Render(draw, driveimages::ImageSize / 2));
    icon.addPixmap(Render(draw, driveimages::ImageSize));
    return icon;
}

// Outside any namespace, as the resource macro requires.
static void LoadIconResources() { Q_INIT_RESOURCE(icons); }

QIcon ProgramIcon() {
    LoadIconResources();
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(QLatin1String(ProgramIconName)),
                     QSize(size, size));
    return icon;
}
