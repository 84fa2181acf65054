#include "app/DemoServer.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <memory>
#include <sstream>

namespace {
// The state of one conversation.
struct TSession {
    bool authorised = false;
    std::string user;
    std::vector<bool> deleted;
    std::string pending;
};

// The message's first lines (the header and lines of the body), dot-stuffed, ended with ".".
std::string Framed(const std::string& text, int bodyLines) {
    std::string out;
    out.reserve(text.size() + 64);
    bool inBody = false;
    int body = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        if (inBody && bodyLines >= 0 && body++ >= bodyLines) break;
        if (!line.empty() && line[0] == '.') out += '.';
        out.append(line).append("\r\n");
        if (line.empty()) inBody = true;
        start = end + 2;
    }
    return out + ".\r\n";
}

int Number(std::istringstream& in) {
    int n = 0;
    return in >> n ? n : 0;
}
} // namespace

TDemoPop3Server::TDemoPop3Server(std::vector<std::string> messages, std::string password,
                                 QObject* parent)
    : QTcpServer(parent), FMessages(std::move(messages)), FPassword(std::move(password)) {
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = nextPendingConnection()) Serve(socket);
    });
}

bool TDemoPop3Server::Start() {
    return listen(QHostAddress::LocalHost, 0);
}

void TDemoPop3Server::Serve(QTcpSocket* socket) {
    auto session = std::make_shared<TSession>();
    session->deleted.assign(FMessages.size(), false);
    auto say = [socket](const std::string& text) {
        socket->write(text.data(), qint64(text.size()));
    };
    auto valid = [this, session](int n) {
        return n >= 1 && n <= int(FMessages.size()) && !session->deleted[std::size_t(n - 1)];
    };
    auto answer = [this, session, socket, say, valid](const std::string& line) {
        std::istringstream in(line);
        std::string verb;
        in >> verb;
        for (char& c : verb) c = char(std::toupper(static_cast<unsigned char>(c)));
        if (verb == "QUIT") {
            for (std::size_t i = session->deleted.size(); i-- > 0;)
                if (session->deleted[i]) FMessages.erase(FMessages.begin() + long(i));
            session->deleted.assign(FMessages.size(), false);
            say("+OK Bye\r\n");
            socket->disconnectFromHost();
        } else if (verb == "USER") {
            in >> session->user;
            say("+OK\r\n");
        } else if (verb == "PASS") {
            std::string password;
            std::getline(in >> std::ws, password);
            session->authorised = !session->user.empty() && password == FPassword;
            say(session->authorised ? "+OK Logged in.\r\n" : "-ERR Authentication failed.\r\n");
        } else if (!session->authorised) {
            say("-ERR Log in first.\r\n");
        } else if (verb == "STAT" || verb == "LIST" || verb == "UIDL") {
            const bool hasArg = in.peek() != EOF;
            int n = Number(in);
            if (hasArg && n != 0) {
                if (!valid(n)) return say("-ERR No such message.\r\n");
                const std::string value = verb == "UIDL" ? "demo-" + std::to_string(n)
                                                         : std::to_string(FMessages[n - 1].size());
                return say("+OK " + std::to_string(n) + " " + value + "\r\n");
            }
            std::string list;
            int count = 0;
            std::size_t octets = 0;
            for (std::size_t i = 0; i < FMessages.size(); ++i) {
                if (session->deleted[i]) continue;
                ++count;
                octets += FMessages[i].size();
                list += std::to_string(i + 1) + " " +
                        (verb == "UIDL" ? "demo-" + std::to_string(i + 1)
                                        : std::to_string(FMessages[i].size())) +
                        "\r\n";
            }
            if (verb == "STAT")
                return say("+OK " + std::to_string(count) + " " + std::to_string(octets) + "\r\n");
            say("+OK " + std::to_string(count) + " messages\r\n" + list + ".\r\n");
        } else if (verb == "TOP" || verb == "RETR") {
            const int n = Number(in);
            const int lines = verb == "TOP" ? Number(in) : -1;
            if (!valid(n)) return say("-ERR No such message.\r\n");
            const std::string& text = FMessages[std::size_t(n - 1)];
            say("+OK " + std::to_string(text.size()) + " octets\r\n" + Framed(text, lines));
        } else if (verb == "DELE") {
            const int n = Number(in);
            if (!valid(n)) return say("-ERR No such message.\r\n");
            session->deleted[std::size_t(n - 1)] = true;
            say("+OK Marked to be deleted.\r\n");
        } else if (verb == "RSET") {
            session->deleted.assign(FMessages.size(), false);
            say("+OK\r\n");
        } else if (verb == "NOOP") {
            say("+OK\r\n");
        } else {
            say("-ERR Unknown command.\r\n");
        }
    };
    connect(socket, &QTcpSocket::readyRead, socket, [socket, session, answer] {
        session->pending += socket->readAll().toStdString();
        for (std::size_t end; (end = session->pending.find('\n')) != std::string::npos;) {
            std::string line = session->pending.substr(0, end);
            session->pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            answer(line);
        }
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    say("+OK Postvigil demo post office ready.\r\n");
}
