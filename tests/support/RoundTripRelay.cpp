#include "RoundTripRelay.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <utility>

namespace pvtest {

class TRoundTripRelay::TCore : public QObject {
public:
    TCore(const std::string& host, uint16_t port)
        : FHost(QString::fromStdString(host)), FPort(port) {
        FServer.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&FServer, &QTcpServer::newConnection, this, [this] { Accept(); });
    }

    uint16_t Port() const { return FServer.serverPort(); }
    int RoundTrips() const { return FRoundTrips; }

private:
    void Accept() {
        while (QTcpSocket* client = FServer.nextPendingConnection()) {
            auto* server = new QTcpSocket(client);
            ++FRoundTrips;
            // Written before the server has answered: no wait, no round trip.
            auto answered = std::make_shared<bool>(false);
            QObject::connect(client, &QTcpSocket::readyRead, this, [=, this] {
                if (std::exchange(*answered, false)) ++FRoundTrips;
                server->write(client->readAll());
            });
            QObject::connect(server, &QTcpSocket::readyRead, this, [=] {
                *answered = true;
                client->write(server->readAll());
            });
            QObject::connect(client, &QTcpSocket::disconnected, server,
                             &QTcpSocket::disconnectFromHost);
            QObject::connect(server, &QTcpSocket::disconnected, client,
                             &QTcpSocket::disconnectFromHost);
            QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            // Qt keeps what the client writes before the connection is up and sends it then.
            server->connectToHost(FHost, FPort);
        }
    }

    QTcpServer FServer;
    QString FHost;
    uint16_t FPort;
    int FRoundTrips = 0;
};

TRoundTripRelay::TRoundTripRelay(const std::string& targetHost, uint16_t targetPort)
    : FCore(std::make_unique<TCore>(targetHost, targetPort)) {}

TRoundTripRelay::~TRoundTripRelay() = default;

std::string TRoundTripRelay::HostAndPort() const {
    return "127.0.0.1:" + std::to_string(FCore->Port());
}

int TRoundTripRelay::RoundTrips() const {
    return FCore->RoundTrips();
}

} // namespace pvtest
