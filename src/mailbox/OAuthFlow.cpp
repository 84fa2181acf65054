#include "mailbox/OAuthFlow.h"

#include "base/Clock.h"
#include "net/EventWait.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

#include <memory>

namespace {
const char* const kNoBrowser = "No browser could be opened for the sign-in";
const char* const kSignInTimedOut = "The sign-in in the browser did not end in time";
const char* const kSignInCancelled = "The sign-in has been canceled";
const char* const kNoListener = "No loopback port for the sign-in's answer";
const char* const kStateMismatch =
    "The browser's answer does not belong to this sign-in (state differs); nothing was taken";
const char* const kSignInDenied = "The sign-in was refused: ";
const char* const kTokenTimedOut = "The token address did not answer in time";
const char* const kTokenTooLong = "The token address's answer is too long";
const char* const kTokenUnreadable = "The token address's answer is no token: ";
const char* const kTokenRefused = "The token address refused: ";
const char* const kTokenFailed = "The token address cannot be reached: ";
const char* const kInvalidGrant = "invalid_grant";
const char* const kNotSecure =
    "The provider's address does not use https; nothing was sent to it: ";
const QByteArray kPage = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Postvigil"
                         "</title></head><body><p>Postvigil has your answer. You can close this "
                         "window.</p></body></html>";

// The code, the client secret and the tokens travel only over https, or to this machine.
void RequireSecure(const std::string& address) {
    const QUrl url(QString::fromStdString(address));
    const QString host = url.host();
    const bool loopback = host == "127.0.0.1" || host == "::1" || host == "localhost";
    if (url.scheme() != "https" && !(url.scheme() == "http" && loopback))
        throw EOAuthError(kNotSecure + address);
}

QByteArray UrlSafe(const QByteArray& bytes) {
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

std::string RandomText(int bytes) {
    QByteArray random(bytes, Qt::Uninitialized);
    for (char& c : random) c = char(QRandomGenerator::system()->bounded(256));
    return UrlSafe(random).toStdString();
}

void AddField(QByteArray& form, const char* name, const std::string& value) {
    if (!form.isEmpty()) form += '&';
    form += name;
    form += '=';
    form += QUrl::toPercentEncoding(QString::fromStdString(value));
}

void AddClient(QByteArray& form, const TOAuthConfig& config) {
    AddField(form, "client_id", config.ClientId);
    if (!config.ClientSecret.empty()) AddField(form, "client_secret", config.ClientSecret);
}

// The loopback end of the redirect: takes the browser's first request for "/" and answers it.
class TRedirectListener {
public:
    bool Listen() { return FServer.listen(QHostAddress::LocalHost, 0); }
    std::string Redirect() const {
        return "http://127.0.0.1:" + std::to_string(FServer.serverPort()) + "/";
    }
    bool Answered() {
        while (QTcpSocket* socket = FServer.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            FSockets.emplace_back(socket);
        }
        for (const QPointer<QTcpSocket>& socket : FSockets) {
            // A connection the browser closed is gone by now.
            if (FAnswered || !socket || !socket->isOpen()) continue;
            QByteArray& buffer = FBuffers[socket];
            buffer += socket->read(kMaxRedirectRequest + 1 - buffer.size());
            if (buffer.size() > kMaxRedirectRequest) {
                socket->abort();
                continue;
            }
            const int end = buffer.indexOf("\r\n\r\n");
            if (end < 0) continue;
            const QList<QByteArray> request = buffer.left(buffer.indexOf("\r\n")).split(' ');
            const QUrl target = QUrl::fromEncoded("http://127.0.0.1" + request.value(1));
            if (request.value(0) != "GET" || target.path() != "/") {
                socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: "
                              "close\r\n\r\n");
                socket->disconnectFromHost();
                continue;
            }
            FQuery = QUrlQuery(target);
            FAnswered = true;
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                          "Content-Length: " +
                          QByteArray::number(kPage.size()) + "\r\nConnection: close\r\n\r\n" +
                          kPage);
            socket->disconnectFromHost();
            socket->waitForBytesWritten(0);
        }
        return FAnswered;
    }
    std::string Field(const char* name) const {
        return FQuery.queryItemValue(name, QUrl::FullyDecoded).toStdString();
    }

private:
    QTcpServer FServer;
    std::vector<QPointer<QTcpSocket>> FSockets;
    std::map<QTcpSocket*, QByteArray> FBuffers;
    QUrlQuery FQuery;
    bool FAnswered = false;
};
} // namespace

std::string TOAuthClient::NewVerifier() {
    return RandomText(32);
}

std::string TOAuthClient::ChallengeOf(const std::string& verifier) {
    return UrlSafe(QCryptographicHash::hash(QByteArray::fromStdString(verifier),
                                            QCryptographicHash::Sha256))
        .toStdString();
}

TOAuthTokens TOAuthClient::SignIn(const TBrowserOpener& open, const std::string& userHint,
                                  const bool* cancel) {
    RequireSecure(FConfig.AuthorizationUrl);
    RequireSecure(FConfig.TokenUrl);
    TRedirectListener listener;
    if (!listener.Listen()) throw EOAuthError(kNoListener);
    const std::string verifier = NewVerifier();
    const std::string state = RandomText(16);
    QUrl address(QString::fromStdString(FConfig.AuthorizationUrl));
    QUrlQuery query(address);
    auto add = [&query](const char* name, const std::string& value) {
        query.addQueryItem(
            name, QString::fromUtf8(QUrl::toPercentEncoding(QString::fromStdString(value))));
    };
    add("response_type", "code");
    add("client_id", FConfig.ClientId);
    add("redirect_uri", listener.Redirect());
    add("scope", FConfig.Scopes);
    add("state", state);
    add("code_challenge", ChallengeOf(verifier));
    add("code_challenge_method", "S256");
    if (!userHint.empty()) add("login_hint", userHint);
    address.setQuery(query);
    if (!open(address.toEncoded().toStdString())) throw EOAuthError(kNoBrowser);
    switch (WaitEvents(InstalledClock().NowMs() + kSignInTimeoutMs, cancel,
                       [&] { return listener.Answered(); })) {
    case TWaitEnd::Cancelled:
        throw EOAuthError(kSignInCancelled);
    case TWaitEnd::Deadline:
        throw EOAuthError(kSignInTimedOut);
    case TWaitEnd::Done:
        break;
    }
    if (listener.Field("state") != state) throw EOAuthError(kStateMismatch);
    if (!listener.Field("error").empty())
        throw EOAuthError(kSignInDenied + listener.Field("error"), true);
    return ExchangeCode(listener.Field("code"), verifier, listener.Redirect());
}

TOAuthTokens TOAuthClient::ExchangeCode(const std::string& code, const std::string& verifier,
                                        const std::string& redirect) {
    QByteArray form;
    AddField(form, "grant_type", "authorization_code");
    AddField(form, "code", code);
    AddField(form, "redirect_uri", redirect);
    AddClient(form, FConfig);
    AddField(form, "code_verifier", verifier);
    return PostToTokenAddress(form);
}

TOAuthTokens TOAuthClient::Refresh(const std::string& refreshToken) {
    QByteArray form;
    AddField(form, "grant_type", "refresh_token");
    AddField(form, "refresh_token", refreshToken);
    AddClient(form, FConfig);
    if (!FConfig.Scopes.empty()) AddField(form, "scope", FConfig.Scopes);
    return PostToTokenAddress(form);
}

TOAuthTokens TOAuthClient::PostToTokenAddress(const QByteArray& form) {
    RequireSecure(FConfig.TokenUrl);
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(QString::fromStdString(FConfig.TokenUrl)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    request.setRawHeader("Accept", "application/json");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    std::unique_ptr<QNetworkReply> reply(manager.post(request, form));
    bool tooLong = false;
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress,
                     [&](qint64 received, qint64 total) {
                         if (received <= kMaxTokenAnswer && total <= kMaxTokenAnswer) return;
                         tooLong = true;
                         reply->abort();
                     });
    const TWaitEnd end = WaitEvents(InstalledClock().NowMs() + kTokenTimeoutMs, nullptr,
                                    [&] { return reply->isFinished(); });
    if (end != TWaitEnd::Done) {
        reply->abort();
        throw EOAuthError(kTokenTimedOut);
    }
    if (tooLong) throw EOAuthError(kTokenTooLong);
    const QByteArray body = reply->read(kMaxTokenAnswer);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QJsonObject answer = QJsonDocument::fromJson(body).object();
    if (status == 0) throw EOAuthError(kTokenFailed + reply->errorString().toStdString());
    const std::string error = answer.value("error").toString().toStdString();
    if (!error.empty() || status != 200) {
        const std::string said = error.empty() ? "HTTP " + std::to_string(status) : error;
        const std::string why = answer.value("error_description").toString().toStdString();
        throw EOAuthError(kTokenRefused + said + (why.empty() ? "" : " (" + why + ")"),
                          error == kInvalidGrant);
    }
    TOAuthTokens tokens;
    tokens.AccessToken = answer.value("access_token").toString().toStdString();
    tokens.RefreshToken = answer.value("refresh_token").toString().toStdString();
    if (tokens.AccessToken.empty())
        throw EOAuthError(kTokenUnreadable + std::string("no access_token"));
    const int64_t expiresIn = int64_t(answer.value("expires_in").toDouble());
    if (expiresIn > 0) tokens.ExpiresAtMs = InstalledClock().NowMs() + expiresIn * 1000;
    return tokens;
}
