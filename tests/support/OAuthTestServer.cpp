#include "OAuthTestServer.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

#include <condition_variable>
#include <map>
#include <mutex>

namespace pvtest {

namespace {
constexpr int kMaxRequest = 64 * 1024;
constexpr int kExpiresIn = 3600;

std::string RandomToken(const char* prefix) {
    QByteArray bytes(24, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), 6);
    return prefix + bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)
                        .toStdString();
}

std::map<std::string, std::string> ParseForm(const QByteArray& text) {
    QByteArray plain = text;
    plain.replace('+', "%20");
    std::map<std::string, std::string> fields;
    for (const auto& [name, value] :
         QUrlQuery(QString::fromLatin1(plain)).queryItems(QUrl::FullyDecoded))
        fields[name.toStdString()] = value.toStdString();
    return fields;
}

QByteArray Answer(int status, const QByteArray& reason, const QByteArray& body,
                  const QByteArray& extraHeaders = {}) {
    return "HTTP/1.1 " + QByteArray::number(status) + " " + reason +
           "\r\nContent-Type: application/json\r\nCache-Control: no-store\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n" + extraHeaders + "\r\n" +
           body;
}

QByteArray Json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray Refusal(const char* error) {
    return Answer(400, "Bad Request", Json({{"error", error}}));
}
} // namespace

class TOAuthTestServer::TState {
public:
    struct TGrant {
        std::string ClientId, Challenge, Redirect;
        bool Used = false;
    };
    struct TRefresh {
        std::string ClientId;
        bool Revoked = false;
    };

    std::mutex Lock;
    std::string User;
    uint16_t Port = 0;
    std::map<std::string, TGrant> Codes;
    std::map<std::string, TRefresh> RefreshTokens;
    std::map<std::string, bool> AccessTokens; // token -> still good
    bool Rotate = false;
    int Authorizations = 0, CodeExchanges = 0, Refreshes = 0, Introspections = 0;
    std::string LastTokenRequest;

    // Called with Lock held.
    QByteArray IssueTokens(const std::string& clientId) {
        const std::string access = RandomToken("at-");
        const std::string refresh = RandomToken("rt-");
        AccessTokens[access] = true;
        RefreshTokens[refresh] = {clientId, false};
        return Answer(200, "OK",
                      Json({{"access_token", QString::fromStdString(access)},
                            {"refresh_token", QString::fromStdString(refresh)},
                            {"token_type", "Bearer"},
                            {"expires_in", kExpiresIn}}));
    }

    QByteArray Authorize(const QUrl& url) {
        const QUrlQuery query(url);
        auto field = [&](const char* name) {
            return query.queryItemValue(name, QUrl::FullyDecoded).toStdString();
        };
        std::lock_guard guard(Lock);
        ++Authorizations;
        if (field("response_type") != "code" || field("code_challenge_method") != "S256" ||
            field("code_challenge").empty() || field("client_id").empty())
            return Refusal("invalid_request");
        const std::string code = RandomToken("code-");
        Codes[code] = {field("client_id"), field("code_challenge"), field("redirect_uri")};
        QUrl back(QString::fromStdString(field("redirect_uri")));
        QUrlQuery answer;
        answer.addQueryItem("code", QString::fromStdString(code));
        answer.addQueryItem("state", QString::fromStdString(field("state")));
        back.setQuery(answer);
        return Answer(302, "Found", {}, "Location: " + back.toEncoded() + "\r\n");
    }

    QByteArray Token(const std::map<std::string, std::string>& form) {
        auto field = [&](const char* name) {
            auto it = form.find(name);
            return it == form.end() ? std::string() : it->second;
        };
        std::lock_guard guard(Lock);
        LastTokenRequest.clear();
        for (const auto& [name, value] : form) LastTokenRequest += name + "=" + value + "\n";
        if (field("grant_type") == "authorization_code") {
            ++CodeExchanges;
            auto it = Codes.find(field("code"));
            if (it == Codes.end() || it->second.Used) return Refusal("invalid_grant");
            it->second.Used = true;
            const QByteArray challenge =
                QCryptographicHash::hash(QByteArray::fromStdString(field("code_verifier")),
                                         QCryptographicHash::Sha256)
                    .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
            if (challenge.toStdString() != it->second.Challenge ||
                field("redirect_uri") != it->second.Redirect ||
                field("client_id") != it->second.ClientId)
                return Refusal("invalid_grant");
            return IssueTokens(it->second.ClientId);
        }
        if (field("grant_type") == "refresh_token") {
            ++Refreshes;
            auto it = RefreshTokens.find(field("refresh_token"));
            if (it == RefreshTokens.end() || it->second.Revoked ||
                it->second.ClientId != field("client_id"))
                return Refusal("invalid_grant");
            if (Rotate) {
                it->second.Revoked = true;
                return IssueTokens(field("client_id"));
            }
            const std::string access = RandomToken("at-");
            AccessTokens[access] = true;
            return Answer(200, "OK",
                          Json({{"access_token", QString::fromStdString(access)},
                                {"token_type", "Bearer"},
                                {"expires_in", kExpiresIn}}));
        }
        return Refusal("unsupported_grant_type");
    }

    QByteArray Revoke(const std::map<std::string, std::string>& form) {
        std::lock_guard guard(Lock);
        auto it = RefreshTokens.find(form.count("token") ? form.at("token") : "");
        if (it != RefreshTokens.end()) it->second.Revoked = true;
        return Answer(200, "OK", "{}");
    }

    QByteArray Introspect(const std::map<std::string, std::string>& form) {
        std::lock_guard guard(Lock);
        ++Introspections;
        auto it = AccessTokens.find(form.count("token") ? form.at("token") : "");
        if (it == AccessTokens.end() || !it->second)
            return Answer(200, "OK", Json({{"active", false}}));
        return Answer(200, "OK",
                      Json({{"active", true}, {"username", QString::fromStdString(User)}}));
    }

    QByteArray Handle(const QByteArray& method, const QUrl& url, const QByteArray& body) {
        const QString path = url.path();
        if (method == "GET" && path == "/authorize") return Authorize(url);
        if (method != "POST") return Answer(405, "Method Not Allowed", "{}");
        if (path == "/token") return Token(ParseForm(body));
        if (path == "/revoke") return Revoke(ParseForm(body));
        if (path == "/introspect") return Introspect(ParseForm(body));
        return Answer(404, "Not Found", "{}");
    }
};

// The server's event loop: one request per connection, answered and closed.
class TOAuthTestServer::TThread : public QThread {
public:
    explicit TThread(std::shared_ptr<TState> state) : FState(std::move(state)) {}

    bool WaitReady(std::string& error) {
        std::unique_lock lock(FReadyLock);
        FReadyCv.wait(lock, [this] { return FReady; });
        error = FError;
        return FError.empty();
    }

protected:
    void run() override {
        QTcpServer server;
        {
            std::lock_guard guard(FReadyLock);
            if (server.listen(QHostAddress::LocalHost, 0)) {
                std::lock_guard state(FState->Lock);
                FState->Port = server.serverPort();
            } else {
                FError = server.errorString().toStdString();
            }
            FReady = true;
        }
        FReadyCv.notify_all();
        if (!FError.empty()) return;
        QObject::connect(&server, &QTcpServer::newConnection, [&server, this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) Serve(socket);
        });
        exec();
    }

private:
    void Serve(QTcpSocket* socket) {
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            QByteArray& buffer = FBuffers[socket];
            buffer += socket->readAll();
            const int end = buffer.indexOf("\r\n\r\n");
            if (buffer.size() > kMaxRequest) {
                socket->abort();
                return;
            }
            if (end < 0) return;
            const QList<QByteArray> lines = buffer.left(end).split('\n');
            const QList<QByteArray> request = lines.value(0).trimmed().split(' ');
            qsizetype length = 0;
            for (const QByteArray& line : lines) {
                if (line.toLower().startsWith("content-length:"))
                    length = line.mid(15).trimmed().toLongLong();
            }
            if (buffer.size() < end + 4 + length) return;
            const QByteArray body = buffer.mid(end + 4, length);
            const QUrl url = QUrl::fromEncoded("http://localhost" + request.value(1));
            socket->write(FState->Handle(request.value(0), url, body));
            FBuffers.erase(socket);
            socket->disconnectFromHost();
        });
    }

    std::shared_ptr<TState> FState;
    std::map<QTcpSocket*, QByteArray> FBuffers;
    std::mutex FReadyLock;
    std::condition_variable FReadyCv;
    bool FReady = false;
    std::string FError;
};

TOAuthTestServer::TOAuthTestServer(std::string user) : FState(std::make_shared<TState>()) {
    FState->User = std::move(user);
}

TOAuthTestServer::~TOAuthTestServer() {
    if (!FThread) return;
    FThread->quit();
    FThread->wait();
}

bool TOAuthTestServer::Start(std::string& error) {
    FThread = std::make_unique<TThread>(FState);
    FThread->start();
    return FThread->WaitReady(error);
}

namespace {
std::string Address(uint16_t port, const char* path) {
    return "http://127.0.0.1:" + std::to_string(port) + path;
}
} // namespace

std::string TOAuthTestServer::AuthorizeUrl() const {
    return Address(FState->Port, "/authorize");
}
std::string TOAuthTestServer::TokenUrl() const {
    return Address(FState->Port, "/token");
}
std::string TOAuthTestServer::RevokeUrl() const {
    return Address(FState->Port, "/revoke");
}
std::string TOAuthTestServer::IntrospectionUrl() const {
    return Address(FState->Port, "/introspect");
}

std::string TOAuthTestServer::IssueAccessToken(std::size_t length) {
    std::lock_guard guard(FState->Lock);
    std::string token = RandomToken("at-");
    if (token.size() < length) token.append(length - token.size(), 'x');
    FState->AccessTokens[token] = true;
    return token;
}

void TOAuthTestServer::ExpireAccessTokens() {
    std::lock_guard guard(FState->Lock);
    for (auto& [token, good] : FState->AccessTokens) good = false;
}

void TOAuthTestServer::RevokeRefreshTokens() {
    std::lock_guard guard(FState->Lock);
    for (auto& [token, refresh] : FState->RefreshTokens) refresh.Revoked = true;
}

void TOAuthTestServer::RotateRefreshTokens() {
    std::lock_guard guard(FState->Lock);
    FState->Rotate = true;
}

int TOAuthTestServer::Authorizations() const {
    std::lock_guard guard(FState->Lock);
    return FState->Authorizations;
}
int TOAuthTestServer::CodeExchanges() const {
    std::lock_guard guard(FState->Lock);
    return FState->CodeExchanges;
}
int TOAuthTestServer::Refreshes() const {
    std::lock_guard guard(FState->Lock);
    return FState->Refreshes;
}
int TOAuthTestServer::Introspections() const {
    std::lock_guard guard(FState->Lock);
    return FState->Introspections;
}

std::vector<std::string> TOAuthTestServer::IssuedTokens() const {
    std::lock_guard guard(FState->Lock);
    std::vector<std::string> tokens;
    for (const auto& [token, good] : FState->AccessTokens) tokens.push_back(token);
    for (const auto& [token, refresh] : FState->RefreshTokens) tokens.push_back(token);
    return tokens;
}

std::string TOAuthTestServer::LastTokenRequest() const {
    std::lock_guard guard(FState->Lock);
    return FState->LastTokenRequest;
}

} // namespace pvtest
