// A relay on 127.0.0.1 between a client under test and a real server that counts the round
// trips the client spends: each connection, and each time the client sends after the server
// has sent (it waited for an answer). Runs in the caller's thread, served by the waits of a
// non-blocking client.
#pragma once

#include <QObject>
#include <QString>
#include <QTcpServer>

#include <cstdint>
#include <string>

namespace pvtest {

class TRoundTripRelay : public QObject {
public:
    TRoundTripRelay(const std::string& targetHost, uint16_t targetPort);
    // "127.0.0.1:port", ready for TmsClientSocket::SetHost.
    std::string HostAndPort() const;
    int RoundTrips() const { return FRoundTrips; }

private:
    void Accept();

    QTcpServer FServer;
    QString FHost;
    uint16_t FPort;
    int FRoundTrips = 0;
};

} // namespace pvtest
