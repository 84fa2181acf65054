#include "StandInBrowser.h"

#include <QEventLoop>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

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
    ++FPending;
    QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply, redirectsLeft] {
        reply->deleteLater();
        LastStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QUrl next = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        if (!next.isEmpty() && redirectsLeft > 0) {
            const QUrl target = reply->url().resolved(next);
            Get(Tamper ? Tamper(target) : target, redirectsLeft - 1);
        }
        if (--FPending == 0 && FWaiting) FWaiting->quit();
    });
}

bool TStandInBrowser::WaitDone(int safetyMs) {
    if (FPending == 0) return true;
    QEventLoop loop;
    FWaiting = &loop;
    QTimer::singleShot(safetyMs, &loop, &QEventLoop::quit);
    loop.exec();
    FWaiting = nullptr;
    return FPending == 0;
}

} // namespace pvtest
