#pragma once

#include <QApplication>

namespace korvel::app {

// The application object: an exception that reaches the top level of an event
// is reported in a message box, and the program goes on.
class KorvelApplication : public QApplication {
    Q_OBJECT

  public:
    KorvelApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace korvel::app
