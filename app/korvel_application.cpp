#include "app/korvel_application.h"

#include <QMessageBox>
#include <exception>

namespace korvel::app {

KorvelApplication::KorvelApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool KorvelApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, applicationDisplayName(), QString::fromUtf8(error.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, applicationDisplayName(),
                              QStringLiteral("An unexpected error occurred."));
    }
    return false;
}

}  // namespace korvel::app
