// The window takes its icon from every picture under ":/icons"; a wrong path
// or alias there would only show up as a missing or blurred icon, so check the
// resources themselves: one picture at each size a desktop asks for, the
// 32 x 32 one the classic 16-colour program icon.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

const QList<int> sizes = {16, 22, 24, 32, 48, 64, 128, 256};

QString iconPath(int size) {
    return QStringLiteral(":/icons/vrindel-%1.png").arg(size);
}

TEST(WindowIcon, OnePictureAtEachSizeAndNothingElse) {
    QStringList expected;
    for (int size : sizes) {
        expected << QStringLiteral("vrindel-%1.png").arg(size);
        const QImage icon(iconPath(size));
        ASSERT_FALSE(icon.isNull()) << iconPath(size).toStdString() << " is not in the resources";
        EXPECT_EQ(icon.size(), QSize(size, size)) << iconPath(size).toStdString();
        // A box on a transparent ground: clear corners, an opaque middle.
        ASSERT_TRUE(icon.hasAlphaChannel()) << size;
        EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << size;
        EXPECT_EQ(qAlpha(icon.pixel(size - 1, 0)), 0) << size;
        EXPECT_EQ(qAlpha(icon.pixel(size / 2, size * 5 / 8)), 255) << size;
    }
    QStringList found = QDir(QStringLiteral(":/icons")).entryList(QDir::Files);
    found.sort();
    expected.sort();
    EXPECT_EQ(found, expected);
}

TEST(WindowIcon, The32PixelOneHasAtMostSixteenColours) {
    const QImage icon(iconPath(32));
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

}  // namespace
