#include "app/icon_set.h"

#include <QFile>
#include <QString>

namespace korvel::app {

namespace {

// The sizes drawn at build time where the target's Qt cannot draw SVG.
constexpr int kBitmapSizes[] = {16, 24, 32, 48, 64};

// The vector image where the build has it, else the bitmaps drawn from it.
QIcon FromResources(const char* name) {
    const QString base = QStringLiteral(":/icons/") + QLatin1String(name);
    const QString svg = base + QStringLiteral(".svg");
    if (QFile::exists(svg)) {
        return QIcon(svg);
    }
    QIcon icon;
    for (const int size : kBitmapSizes) {
        icon.addFile(base + QStringLiteral("-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace

QIcon ActionIcon(ActionImage image) {
    switch (image) {
        case ActionImage::Program:
            return FromResources("program");
        case ActionImage::Load:
            return FromResources("load");
        case ActionImage::Help:
            return FromResources("help");
        case ActionImage::Exit:
            return FromResources("exit");
        case ActionImage::Stop:
            return FromResources("stop");
    }
    return {};
}

QIcon DialogIcon(DialogPicture picture) {
    switch (picture) {
        case DialogPicture::Confirm:
            return FromResources("confirm");
        case DialogPicture::Refuse:
            return FromResources("refuse");
        case DialogPicture::No:
            return FromResources("no");
    }
    return {};
}

QIcon ProgramIcon() {
    return FromResources("korvel");
}

}  // namespace korvel::app
