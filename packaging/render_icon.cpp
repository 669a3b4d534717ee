// korvel-render-icon SVG SIZE PNG: draws the program's icon at one size for
// the icon theme, at build time.
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: korvel-render-icon SVG SIZE PNG\n");
        return 64;
    }
    const int size = std::atoi(argv[2]);
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid() || size <= 0) {
        std::fprintf(stderr, "korvel-render-icon: cannot draw '%s' at '%s'\n", argv[1], argv[2]);
        return 65;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
    }
    if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "korvel-render-icon: cannot write '%s'\n", argv[3]);
        return 73;
    }
    return 0;
}
