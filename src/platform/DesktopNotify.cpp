#include "platform/DesktopNotify.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QStringList>
#include <QVariantMap>

namespace {
const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";
const char* const kAppName = "Postvigil";
const char* const kIconName = "postvigil";
const char* const kDefaultAction = "default";
const char* const kOpenLabel = "Show Postvigil";
// The service's default display time.
constexpr int kExpireDefault = -1;
// A service that does not answer within this time counts as gone.
constexpr int kReplyMs = 5000;

// The three characters the service's markup gives a meaning.
QString EscapeMarkup(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == '&')
            out += QLatin1String("&amp;");
        else if (c == '<')
            out += QLatin1String("&lt;");
        else if (c == '>')
            out += QLatin1String("&gt;");
        else
            out += c;
    }
    return out;
}
} // namespace

TDesktopNotifier::TDesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), FBus(bus) {
    FBus.connect(kService, kPath, kInterface, "ActionInvoked", this,
                 SLOT(ActionInvoked(uint, QString)));
    FBus.connect(kService, kPath, kInterface, "NotificationClosed", this,
                 SLOT(NotificationClosed(uint, uint)));
}

bool TDesktopNotifier::Available() const {
    if (!FBus.isConnected()) return false;
    QDBusConnectionInterface* bus = FBus.interface();
    if (!bus) return false;
    if (bus->isServiceRegistered(kService)) return true;
    const QDBusReply<QStringList> startable = bus->activatableServiceNames();
    return startable.isValid() && startable.value().contains(kService);
}

bool TDesktopNotifier::Show(const QString& summary, const QString& body) {
    if (!Available()) return false;
    if (FCapsKnown) {
        Send(summary, body);
        return true;
    }
    QDBusMessage ask =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, "GetCapabilities");
    Call(ask, [this, summary, body](const QDBusPendingCall& reply) {
        const QDBusPendingReply<QStringList> caps = reply;
        // A service that will not say is taken to show plain text.
        FCapsKnown = true;
        FMarkup = caps.isValid() && caps.value().contains("body-markup");
        Send(summary, body);
    });
    return true;
}

void TDesktopNotifier::Send(const QString& summary, const QString& body) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
    const QVariantMap hints{{"desktop-entry", QString(kIconName)},
                            {"category", QString("email.arrived")}};
    call << QString(kAppName) << FId << QString(kIconName) << summary
         << (FMarkup ? EscapeMarkup(body) : body) << QStringList{kDefaultAction, kOpenLabel}
         << hints << kExpireDefault;
    Call(call, [this, summary, body](const QDBusPendingCall& reply) {
        const QDBusPendingReply<uint> id = reply;
        FId = id.isValid() ? id.value() : 0;
        if (!id.isValid() && OnFailed) OnFailed(summary, body);
    });
}

void TDesktopNotifier::Call(const QDBusMessage& call,
                            std::function<void(const QDBusPendingCall& reply)> answered) {
    ++FPending;
    auto* watcher = new QDBusPendingCallWatcher(FBus.asyncCall(call, kReplyMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, answered = std::move(answered)](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                --FPending;
                answered(*w);
            });
}

void TDesktopNotifier::ActionInvoked(uint id, const QString& action) {
    if (id != FId || FId == 0) return;
    if (action == kDefaultAction && OnActivated) OnActivated();
}

void TDesktopNotifier::NotificationClosed(uint id, uint) {
    if (id == FId) FId = 0;
}
