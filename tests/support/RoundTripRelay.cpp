#include "RoundTripRelay.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <memory>
#include <utility>

namespace pvtest {

TRoundTripRelay::TRoundTripRelay(const std::string& targetHost, uint16_t targetPort)
    : FHost(QString::fromStdString(targetHost)), FPort(targetPort) {
    FServer.listen(QHostAddress::LocalHost, 0);
    connect(&FServer, &QTcpServer::newConnection, this, [this] { Accept(); });
}

std::string TRoundTripRelay::HostAndPort() const {
    return "127.0.0.1:" + std::to_string(FServer.serverPort());
}

void TRoundTripRelay::Accept() {
    while (QTcpSocket* client = FServer.nextPendingConnection()) {
        auto* server = new QTcpSocket(client);
        ++FRoundTrips;
        // Written before the server has answered: no wait, no round trip.
        auto answered = std::make_shared<bool>(false);
        connect(client, &QTcpSocket::readyRead, this, [=, this] {
            if (std::exchange(*answered, false)) ++FRoundTrips;
            server->write(client->readAll());
        });
        connect(server, &QTcpSocket::readyRead, this, [=] {
            *answered = true;
            client->write(server->readAll());
        });
        connect(client, &QTcpSocket::disconnected, server, &QTcpSocket::disconnectFromHost);
        connect(server, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        server->connectToHost(FHost, FPort);
    }
}

} // namespace pvtest
