#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

namespace korvel::app {

// One window per user: the first window listens under a name of the user's;
// a second start hands its package over and ends.
class SingleInstance : public QObject {
    Q_OBJECT

  public:
    // How a handed-over package was taken.
    enum class Answer { Loaded, Busy, NotLoaded, NoWindow };

    // The name a user's window listens under.
    static QString ServerName();

    explicit SingleInstance(QString serverName, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Starts listening; false (and another window is likely there) when the
    // name is taken by a window that answers.
    bool Listen();

    // A second start: hands path to the window listening under serverName
    // and returns its answer; NoWindow when none answers in time. Blocks, so
    // it is called before this process has a window of its own.
    static Answer HandOver(const QString& serverName, const QString& path, int timeoutMs = 3000);

    // Called with each package handed over; answers how it was taken.
    std::function<Answer(const QString& path)> onPackage;

  private:
    void serve();

    QString serverName_;
    QLocalServer* server_ = nullptr;
};

}  // namespace korvel::app
