#include "app/icon_set.h"

namespace korvel::app {

QIcon ActionIcon(ActionImage image) {
    switch (image) {
        case ActionImage::Program:
            return QIcon(QStringLiteral(":/icons/program.svg"));
        case ActionImage::Load:
            return QIcon(QStringLiteral(":/icons/load.svg"));
        case ActionImage::Help:
            return QIcon(QStringLiteral(":/icons/help.svg"));
        case ActionImage::Exit:
            return QIcon(QStringLiteral(":/icons/exit.svg"));
        case ActionImage::Stop:
            return QIcon(QStringLiteral(":/icons/stop.svg"));
    }
    return {};
}

QIcon DialogIcon(DialogPicture picture) {
    switch (picture) {
        case DialogPicture::Confirm:
            return QIcon(QStringLiteral(":/icons/confirm.svg"));
        case DialogPicture::Refuse:
            return QIcon(QStringLiteral(":/icons/refuse.svg"));
        case DialogPicture::No:
            return QIcon(QStringLiteral(":/icons/no.svg"));
    }
    return {};
}

QIcon ProgramIcon() {
    return QIcon(QStringLiteral(":/icons/korvel.svg"));
}

}  // namespace korvel::app
