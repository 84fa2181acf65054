// A small POP3 server on a loopback port that serves a fixed mailbox: the demo's post office.
#pragma once

#include <QTcpServer>

#include <string>
#include <vector>

class TDemoPop3Server : public QTcpServer {
    Q_OBJECT
public:
    // messages: whole messages with CR LF line ends. Every user name logs in with password.
    TDemoPop3Server(std::vector<std::string> messages, std::string password,
                    QObject* parent = nullptr);
    // Listens on 127.0.0.1 at a free port; false when no port could be had.
    bool Start();

private:
    void Serve(class QTcpSocket* socket);

    std::vector<std::string> FMessages;
    std::string FPassword;
};
