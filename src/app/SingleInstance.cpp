#include "app/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace {
const char kActivate[] = "activate\n";
constexpr int kAnswerMs = 1000;
} // namespace

TSingleInstance::TSingleInstance(const QString& name, QObject* parent)
    : QObject(parent), FName(name + "-" + QString::number(::getuid())) {}

bool TSingleInstance::NotifyRunning() {
    QLocalSocket socket;
    socket.connectToServer(FName);
    if (!socket.waitForConnected(kAnswerMs)) return false;
    socket.write(kActivate);
    socket.waitForBytesWritten(kAnswerMs);
    socket.disconnectFromServer();
    return true;
}

bool TSingleInstance::Listen() {
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    // A server left behind by a crashed instance does not answer; take its name over.
    QLocalServer::removeServer(FName);
    if (!FServer->listen(FName)) return false;
    connect(FServer, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = FServer->nextPendingConnection()) {
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (client->readAll().contains("activate")) emit Activate();
                client->disconnectFromServer();
            });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });
    return true;
}
