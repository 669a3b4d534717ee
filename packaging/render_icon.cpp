// korvel-render-icon SVG SIZE[,SIZE...] OUT: draws an SVG picture at build
// time, for the icon theme and for builds whose Qt has no SVG support (the
// Windows cross build). OUT ending in ".ico" gets every size listed, one
// Windows icon file; any other OUT gets one PNG at the one size given.
#include <QBuffer>
#include <QByteArray>
#include <QDataStream>
#include <QFile>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QString>
#include <QStringList>
#include <QSvgRenderer>
#include <cstdio>

namespace {

QImage Draw(QSvgRenderer& svg, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    return image;
}

// One icon image: sizes up to 128 as a 32-bit bitmap with its (empty) AND
// mask, which every Windows and the installer's tools read; larger ones as
// PNG, as Windows keeps its 256-pixel icons.
QByteArray IconImage(const QImage& drawn) {
    QByteArray bytes;
    if (drawn.width() > 128) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        drawn.save(&buffer, "PNG");
        return bytes;
    }
    const QImage image = drawn.convertToFormat(QImage::Format_ARGB32);
    const int size = image.width();
    const int maskRowBytes = ((size + 31) / 32) * 4;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    // BITMAPINFOHEADER; the height counts the colour rows and the mask rows.
    out << quint32(40) << qint32(size) << qint32(size * 2) << quint16(1) << quint16(32)
        << quint32(0) << quint32(size * size * 4 + maskRowBytes * size) << qint32(0) << qint32(0)
        << quint32(0) << quint32(0);
    // Bottom row first; ARGB32 in memory is the bitmap's B, G, R, A.
    for (int y = size - 1; y >= 0; --y) {
        out.writeRawData(reinterpret_cast<const char*>(image.constScanLine(y)), size * 4);
    }
    const QByteArray maskRow(maskRowBytes, '\0');
    for (int y = 0; y < size; ++y) {
        out.writeRawData(maskRow.constData(), maskRowBytes);
    }
    return bytes;
}

// ICONDIR, one ICONDIRENTRY per image, then the images.
QByteArray IconFile(QSvgRenderer& svg, const QList<int>& sizes) {
    QList<QByteArray> images;
    for (int size : sizes) {
        images.append(IconImage(Draw(svg, size)));
    }
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(images.size());
    quint32 offset = 6 + 16 * static_cast<quint32>(images.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        const int size = sizes[i];
        // A width or height of 256 is written as 0.
        out << quint8(size % 256) << quint8(size % 256) << quint8(0) << quint8(0) << quint16(1)
            << quint16(32) << quint32(images[i].size()) << offset;
        offset += static_cast<quint32>(images[i].size());
    }
    for (const QByteArray& image : images) {
        out.writeRawData(image.constData(), static_cast<int>(image.size()));
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: korvel-render-icon SVG SIZE[,SIZE...] OUT\n");
        return 64;
    }
    const QString out = QString::fromLocal8Bit(argv[3]);
    const bool ico = out.endsWith(QStringLiteral(".ico"), Qt::CaseInsensitive);
    QList<int> sizes;
    for (const QString& text : QString::fromLocal8Bit(argv[2]).split(QLatin1Char(','))) {
        bool ok = false;
        const int size = text.toInt(&ok);
        sizes.append(ok && size > 0 && size <= 256 ? size : 0);
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid() || sizes.contains(0) || (!ico && sizes.size() != 1)) {
        std::fprintf(stderr, "korvel-render-icon: cannot draw '%s' at '%s'\n", argv[1], argv[2]);
        return 65;
    }
    bool written = false;
    if (ico) {
        QFile file(out);
        const QByteArray bytes = IconFile(svg, sizes);
        written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    } else {
        written = Draw(svg, sizes[0]).save(out, "PNG");
    }
    if (!written) {
        std::fprintf(stderr, "korvel-render-icon: cannot write '%s'\n", argv[3]);
        return 73;
    }
    return 0;
}
