// The application object: an exception that escapes an event handler is
// reported in a message box and the program goes on.
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <memory>
#include <stdexcept>

#include "app/korvel_application.h"

namespace {

class Throwing : public QObject {
  public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            throw std::runtime_error("The port went away");
        }
        return QObject::event(event);
    }
};

}  // namespace

class KorvelApplicationTest : public QObject {
    Q_OBJECT

  private slots:
    void anEscapedExceptionIsShownAndTheProgramGoesOn() {
        QString shown;
        QTimer answer;
        answer.setInterval(5);
        connect(&answer, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                    shown = box->text();
                    box->accept();
                }
            }
        });
        answer.start();
        Throwing target;
        QCoreApplication::postEvent(&target, std::make_unique<QEvent>(QEvent::User).release());
        QTRY_COMPARE(shown, QString("The port went away"));

        bool later = false;
        QTimer::singleShot(0, [&] { later = true; });
        QTRY_VERIFY(later);
    }
};

int main(int argc, char** argv) {
    korvel::app::KorvelApplication application(argc, argv);
    KorvelApplicationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "korvel_application_test.moc"
