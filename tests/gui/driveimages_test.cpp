#include <gtest/gtest.h>

#include <QImage>
#include <QSystemTrayIcon>

#include "shell/ui/driveimages.h"
#include "window.h"

namespace {

QImage At(const QIcon& icon, int size) { return icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32); }

int CountPixels(const QImage& image, bool (*match)(const QColor&)) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += match(image.pixelColor(x, y)) ? 1 : 0;
    return n;
}

bool Solid(const QColor& c) { return c.alpha() >= 200; }

bool Orange(const QColor& c) {
    return c.alpha() > 200 && c.hsvHue() >= 20 && c.hsvHue() <= 40 && c.hsvSaturation() > 180 && c.value() > 200;
}

}  // namespace

TEST(DriveImages, EightDistinctPicturesOnTransparentGround) {
    const QList<QIcon> list = DrivesImageList();
    ASSERT_EQ(list.size(), 8);
    std::vector<QImage> images;
    for (int i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(i);
        const QImage image = At(list[i], 32);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(32, 32));
        // Drawn, not an empty canvas, and the list's own background shows at the corners.
        EXPECT_GT(CountPixels(image, Solid), 150);
        for (QPoint corner : {QPoint(0, 0), QPoint(31, 0), QPoint(0, 31), QPoint(31, 31)})
            EXPECT_EQ(image.pixelColor(corner).alpha(), 0) << corner.x() << "," << corner.y();
        // A real high-DPI picture rather than the small one scaled up.
        const QImage big = At(list[i], 64);
        EXPECT_EQ(big.size(), QSize(64, 64));
        EXPECT_NE(big.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::FastTransformation), image);
        images.push_back(image);
    }
    for (size_t a = 0; a < images.size(); ++a)
        for (size_t b = a + 1; b < images.size(); ++b) EXPECT_FALSE(images[a] == images[b]) << a << " vs " << b;
}

TEST(DriveImages, OrangeMarksTheExternalAndPausedDrivesOnly) {
    const QList<QIcon> list = DrivesImageList();
    ASSERT_EQ(list.size(), 8);
    for (int i : {driveimages::FireWireDrive, driveimages::UsbDrive})
        EXPECT_GT(CountPixels(At(list[i], 32), Orange), 150) << i;  // the whole case is orange
    EXPECT_GT(CountPixels(At(list[driveimages::PausedDisk], 32), Orange), 40);
    for (int i : {driveimages::InternalDisk, driveimages::PlainDrive, driveimages::FloppyDrive})
        EXPECT_EQ(CountPixels(At(list[i], 32), Orange), 0) << i;
}

TEST(DriveImages, PausedDiskIsTheInternalDiskWithABadge) {
    const QList<QIcon> list = DrivesImageList();
    ASSERT_EQ(list.size(), 8);
    const QImage disk = At(list[driveimages::InternalDisk], 32), paused = At(list[driveimages::PausedDisk], 32);
    // The badge sits in the lower right; above it the two pictures agree.
    EXPECT_EQ(disk.copy(0, 0, 32, 14), paused.copy(0, 0, 32, 14));
    EXPECT_NE(disk.copy(16, 16, 16, 16), paused.copy(16, 16, 16, 16));
}

TEST(DriveImages, WindowAndTrayShowTheProgramIcon) {
    testsupport::Window w;
    const QImage expected = At(ProgramIcon(), 32);
    ASSERT_FALSE(expected.isNull());
    EXPECT_GT(CountPixels(expected, Solid), 150);
    EXPECT_EQ(At(w.form->windowIcon(), 32), expected);
    auto* tray = w.Find<QSystemTrayIcon>("inTrayIcon");
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(At(tray->icon(), 32), expected);
    for (const QIcon& picture : DrivesImageList()) EXPECT_NE(At(picture, 32), expected);
}
