// orlea-make-icns: renders the product mark (an SVG) into a macOS icon file, for Orlea.app and the driver
// bundle. The mark is drawn on the system's icon grid: its rounded square covers 824 of 1024 pixels.
//
//     orlea-make-icns MARK.svg OUTPUT.icns

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QtEndian>
#include <cstdio>

namespace {

// The icon's square spans 2 to 62 of the mark's 64 units.
constexpr double kMarkUnits = 64.0;
constexpr double kSquareUnits = 60.0;
constexpr double kSquareShare = 824.0 / 1024.0;

QByteArray renderPng(QSvgRenderer& renderer, int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const double side = pixels * kSquareShare * kMarkUnits / kSquareUnits;
    const double offset = (pixels - side) / 2.0;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(offset, offset, side, side));
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

void appendBigEndian(QByteArray& out, quint32 value)
{
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: orlea-make-icns MARK.svg OUTPUT.icns\n", stderr);
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "orlea-make-icns: cannot read %s\n", argv[1]);
        return 1;
    }
    // PNG-coded entries, from 16 to 1024 pixels; the @2x types reuse the pixel sizes of larger ones.
    const struct {
        const char* type;
        int pixels;
    } entries[] = {{"icp4", 16},  {"icp5", 32},  {"ic11", 32},  {"icp6", 64},  {"ic12", 64},  {"ic07", 128},
                   {"ic08", 256}, {"ic13", 256}, {"ic09", 512}, {"ic14", 512}, {"ic10", 1024}};
    QByteArray body;
    for (const auto& entry : entries) {
        const QByteArray png = renderPng(renderer, entry.pixels);
        body.append(entry.type, 4);
        appendBigEndian(body, quint32(8 + png.size()));
        body.append(png);
    }
    QByteArray file("icns", 4);
    appendBigEndian(file, quint32(8 + body.size()));
    file.append(body);

    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size()) {
        std::fprintf(stderr, "orlea-make-icns: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
