#include "app/ui/Icons.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <gtest/gtest.h>

namespace {
// Counts pixels that are not fully transparent: an icon that renders blank is as bad as a missing one.
int paintedPixels(const QPixmap& pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    return count;
}
} // namespace

TEST(Icons, EveryNameTheScreensUseIsDrawn)
{
    const QStringList used = {
        QStringLiteral("phone"),
        QStringLiteral("text.bubble"),
        QStringLiteral("folder"),
        QStringLiteral("waveform"),
        QStringLiteral("point.3.connected.trianglepath.dotted"),
        QStringLiteral("sparkles"),
        QStringLiteral("lock.shield"),
        QStringLiteral("circle.fill"),
        QStringLiteral("pause.circle"),
        QStringLiteral("checkmark.circle.fill"),
        QStringLiteral("circle.dotted"),
        QStringLiteral("mic.circle.fill"),
        QStringLiteral("wand.and.stars"),
        QStringLiteral("text.badge.checkmark"),
        QStringLiteral("person.crop.circle.badge.checkmark"),
        QStringLiteral("key"),
        QStringLiteral("hand.raised"),
        QStringLiteral("bubble.left.and.bubble.right"),
        Icons::kProductMark,
    };
    for (const QString& name : used) {
        ASSERT_TRUE(Icons::has(name)) << name.toStdString() << " has no drawing";
        EXPECT_FALSE(Icons::get(name).isNull()) << name.toStdString();
        EXPECT_GT(paintedPixels(Icons::pixmap(name, 32)), 20) << name.toStdString() << " renders blank";
    }
    for (const QString& name : Icons::names()) {
        QSvgRenderer renderer(QStringLiteral(":/icons/") + name + QStringLiteral(".svg"));
        EXPECT_TRUE(renderer.isValid()) << name.toStdString() << " is not valid SVG";
    }
    EXPECT_TRUE(Icons::get(QStringLiteral("no.such.symbol")).isNull());
    EXPECT_FALSE(Icons::has(QStringLiteral("../icons/phone")));
    EXPECT_FALSE(Icons::has(QString()));
}

TEST(Icons, SheetForReview)
{
    const QStringList all = Icons::names();
    const int cellPx = 56;
    QPixmap sheet(cellPx * 7, cellPx * ((all.size() + 6) / 7));
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    for (int i = 0; i < all.size(); ++i)
        painter.drawPixmap((i % 7) * cellPx + 8, (i / 7) * cellPx + 8, Icons::pixmap(all[i], 40));
    painter.end();
    const QString folder = qEnvironmentVariable("ORLEA_BUILD_DIR") + QStringLiteral("/ui-snapshots");
    QDir().mkpath(folder);
    EXPECT_TRUE(sheet.save(folder + QStringLiteral("/icons.png")));
}
