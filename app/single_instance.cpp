#include "app/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace korvel::app {

namespace {

// One line each way: the package's path, then the answer's word.
const char* AnswerWord(SingleInstance::Answer answer) {
    switch (answer) {
        case SingleInstance::Answer::Loaded:
            return "loaded";
        case SingleInstance::Answer::Busy:
            return "busy";
        case SingleInstance::Answer::NotLoaded:
        case SingleInstance::Answer::NoWindow:
            break;
    }
    return "not-loaded";
}

}  // namespace

QString SingleInstance::ServerName() {
    // Per user: another user's window is not this user's.
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty()) {
        user = qEnvironmentVariable("USERNAME");
    }
    return QStringLiteral("korvel-window-") + user;
}

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), serverName_(std::move(serverName)) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::Listen() {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(serverName_)) {
        // A name left behind by a window that crashed answers nobody: take it over.
        if (HandOver(serverName_, QString(), 500) != Answer::NoWindow) {
            return false;
        }
        QLocalServer::removeServer(serverName_);
        if (!server_->listen(serverName_)) {
            return false;
        }
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::serve);
    return true;
}

void SingleInstance::serve() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // Answered when the path's line is in; the window never waits for a client.
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                return;
            }
            const QString path = QString::fromUtf8(socket->readLine()).trimmed();
            // An empty line only asks whether a window is there.
            const Answer answer =
                path.isEmpty() || !onPackage ? Answer::NotLoaded : onPackage(path);
            socket->write(QByteArray(AnswerWord(answer)) + '\n');
            socket->disconnectFromServer();
        });
    }
}

SingleInstance::Answer SingleInstance::HandOver(const QString& serverName, const QString& path,
                                                int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(timeoutMs)) {
        return Answer::NoWindow;
    }
    socket.write(path.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(timeoutMs)) {
        return Answer::NoWindow;
    }
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs)) {
            return Answer::NoWindow;
        }
    }
    const QByteArray word = socket.readLine().trimmed();
    if (word == "loaded") {
        return Answer::Loaded;
    }
    if (word == "busy") {
        return Answer::Busy;
    }
    return Answer::NotLoaded;
}

}  // namespace korvel::app
