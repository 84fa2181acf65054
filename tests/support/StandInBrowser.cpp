#include "StandInBrowser.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace pvtest {

namespace {
constexpr int kMaxRedirects = 5;
} // namespace

std::function<bool(const std::string&)> TStandInBrowser::Opener() {
    return [this](const std::string& address) {
        if (Missing) return false;
        ++Opened;
        LastAddress = address;
        Get(QUrl::fromEncoded(QByteArray::fromStdString(address)), kMaxRedirects);
        return true;
    };
}

void TStandInBrowser::Get(const QUrl& address, int redirectsLeft) {
    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = FManager.get(request);
    QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply, redirectsLeft] {
        reply->deleteLater();
        LastStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QUrl next = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        if (next.isEmpty() || redirectsLeft == 0) return;
        const QUrl target = reply->url().resolved(next);
        Get(Tamper ? Tamper(target) : target, redirectsLeft - 1);
    });
}

} // namespace pvtest
