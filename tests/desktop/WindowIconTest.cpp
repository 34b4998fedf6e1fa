// The window takes its icon from the resource ":/icons/vrindel.png"; a wrong
// path or alias there would only show up as a missing icon, so check the
// resource itself: it must be the 32 x 32, 16-colour program icon.
#include <QColor>
#include <QImage>
#include <QList>
#include <QString>

#include <gtest/gtest.h>

namespace {

QImage windowIcon() {
    return QImage(QStringLiteral(":/icons/vrindel.png"));
}

TEST(WindowIcon, ResourceIsThe32PixelProgramIcon) {
    const QImage icon = windowIcon();
    ASSERT_FALSE(icon.isNull()) << "\":/icons/vrindel.png\" is not in the resources";
    EXPECT_EQ(icon.width(), 32);
    EXPECT_EQ(icon.height(), 32);
}

TEST(WindowIcon, HasAtMostSixteenColours) {
    const QImage icon = windowIcon();
    ASSERT_FALSE(icon.isNull());
    // Stored as a palette image, so the palette bounds the colours.
    ASSERT_EQ(icon.format(), QImage::Format_Indexed8);
    EXPECT_LE(icon.colorCount(), 16);
    QList<int> used;
    for (int y = 0; y < icon.height(); ++y) {
        for (int x = 0; x < icon.width(); ++x) {
            const int index = icon.pixelIndex(x, y);
            if (!used.contains(index)) used.append(index);
        }
    }
    EXPECT_GE(used.size(), 4) << "a picture, not a blank square";
}

TEST(WindowIcon, CornersAreTransparentAndCentreIsOpaque) {
    const QImage icon = windowIcon();
    ASSERT_FALSE(icon.isNull());
    ASSERT_TRUE(icon.hasAlphaChannel());
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(31, 0)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(16, 20)), 255);
}

}  // namespace
