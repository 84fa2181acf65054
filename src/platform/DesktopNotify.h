// Desktop notifications through the freedesktop notification service on a session bus.
#pragma once

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QObject>
#include <QString>

#include <functional>

class TDesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit TDesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);

    // Whether a notification service runs on the bus or the bus can start one.
    bool Available() const;
    // Shows the program's notification, replacing the one shown before. Texts are plain; they
    // are escaped for services that read markup. False when no service is there to take it.
    bool Show(const QString& summary, const QString& body);
    // Calls sent that have not been answered yet.
    int Pending() const { return FPending; }

    // The user clicked the notification.
    std::function<void()> OnActivated;
    // The service refused or did not answer: the texts of the notification that was lost.
    std::function<void(const QString& summary, const QString& body)> OnFailed;

private slots:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    void Send(const QString& summary, const QString& body);
    // Sends call without waiting; answered(reply) runs from the event loop when the answer
    // (or the time-out) comes.
    void Call(const QDBusMessage& call,
              std::function<void(const QDBusPendingCall& reply)> answered);

    QDBusConnection FBus;
    // The id of the notification on screen (0 for none); a new one replaces it.
    uint FId = 0;
    // Capabilities are asked for once, before the first notification.
    bool FCapsKnown = false;
    bool FMarkup = false;
    int FPending = 0;
};
