#include <gtest/gtest.h>

#include <QImage>

#include "shell/ui/gradientbar.h"

TEST(GradientBar, FillFollowsPositionWithinTheRange) {
    TGradientBar bar;
    bar.SetMinimum(0);
    bar.SetMaximum(200);
    bar.SetPosition(101);
    EXPECT_EQ(bar.FilledWidth(118), 60);  // 118 * 101 / 200 = 59.59 -> 60
    bar.SetPosition(0);
    EXPECT_EQ(bar.FilledWidth(118), 0);
    bar.SetPosition(200);
    EXPECT_EQ(bar.FilledWidth(118), 118);
    bar.SetPosition(255);  // beyond the maximum: never past the border
    EXPECT_EQ(bar.FilledWidth(118), 118);
    bar.SetMaximum(0);  // an empty range draws no fill instead of dividing by zero
    EXPECT_EQ(bar.FilledWidth(118), 0);
}

TEST(GradientBar, DrawsBorderFilledPartAndBackgroundInTheirColours) {
    TGradientBar bar;
    bar.resize(120, 16);
    bar.SetMaximum(100);
    bar.SetPosition(50);
    bar.BackColorFace = QColor(255, 0, 0);
    QImage img = bar.grab().toImage();
    EXPECT_EQ(QColor(img.pixel(0, 8)), QColor(0x37, 0x6F, 0x15)) << "left border";
    EXPECT_EQ(QColor(img.pixel(119, 8)), QColor(0x37, 0x6F, 0x15)) << "right border";
    EXPECT_EQ(QColor(img.pixel(60, 0)), QColor(0x37, 0x6F, 0x15)) << "top border";
    // Filled part: pale at the top, green towards the bottom.
    QColor fillTop(img.pixel(10, 1)), fillBottom(img.pixel(10, 14));
    EXPECT_GT(fillTop.green() - fillTop.red(), 0);
    EXPECT_LT(fillBottom.red(), fillTop.red());
    EXPECT_NEAR(fillBottom.green(), 0xC1, 20);
    // Unfilled part: red at the top shading to white at the bottom.
    QColor backTop(img.pixel(100, 1)), backBottom(img.pixel(100, 14));
    EXPECT_GT(backTop.red(), 200);
    EXPECT_LT(backTop.green(), 40);
    EXPECT_GT(backBottom.green(), 200);
    EXPECT_GT(backBottom.blue(), 200);
    // The boundary lies at half the inner width.
    EXPECT_LT(QColor(img.pixel(59, 8)).red(), QColor(img.pixel(61, 8)).red());
}
