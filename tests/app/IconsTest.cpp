// The program's pictures at twice the pixel density are drawn afresh, and at the ordinary
// density they look as they always have.
#include "app/Icons.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

namespace {
// The pixels alone, whatever density the pixmap is meant for.
QImage Image(const QPixmap& pm) {
    QImage image = pm.toImage().convertToFormat(QImage::Format_ARGB32);
    image.setDevicePixelRatio(1);
    return image;
}

QImage Reference(const char* name) {
    return QImage(QStringLiteral(PV_TEST_DATA_DIR "/app/icons/") + name)
        .convertToFormat(QImage::Format_ARGB32);
}
} // namespace

TEST(Icons, AtTwiceTheDensityAreDrawnWithTheirOwnDetail) {
    QList<QIcon> icons = TrayFrames();
    for (int mode = 0; mode < 4; ++mode) icons << ModeIcon(mode);
    icons << ProgramSymbol(0) << AccountImage(1) << TrayMenuImage(0);
    for (int i = 0; i < icons.size(); ++i) {
        SCOPED_TRACE(i);
        const QPixmap sharp = icons[i].pixmap(QSize(32, 32), 2.0);
        EXPECT_EQ(sharp.size(), QSize(64, 64));
        EXPECT_EQ(sharp.devicePixelRatio(), 2.0);
        const QPixmap plain = icons[i].pixmap(QSize(32, 32), 1.0);
        ASSERT_EQ(plain.size(), QSize(32, 32));
        // Neither the ordinary picture enlarged, smoothly or pixel by pixel.
        for (Qt::TransformationMode how : {Qt::SmoothTransformation, Qt::FastTransformation})
            EXPECT_NE(Image(sharp), Image(plain.scaled(64, 64, Qt::IgnoreAspectRatio, how)));
    }
}

TEST(Icons, AtTheOrdinaryDensityLookAsBefore) {
    EXPECT_EQ(Image(AppIcon().pixmap(QSize(32, 32), 1.0)), Reference("app-icon-32.png"));
    // The list's state image and the mode button as it starts, disabled.
    EXPECT_EQ(Image(ModeIcon(0).pixmap(QSize(16, 16), 1.0)), Reference("mode-get-16.png"));
    EXPECT_EQ(Image(ModeIcon(0).pixmap(QSize(16, 16), 1.0, QIcon::Disabled)),
              Reference("mode-get-16-disabled.png"));
}
