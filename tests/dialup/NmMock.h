// A NetworkManager stand-in for the tests: a private D-Bus daemon started by the test, and
// python3-dbusmock's "networkmanager" template on it. Nothing here talks to the machine's
// own buses.
#pragma once

#include "PrivateBus.h"

#include <QDBusConnection>
#include <QString>
#include <QVariantMap>

class TNmMock {
public:
    // Starts the bus, and NetworkManager's stand-in on it unless withNetworkManager is false.
    explicit TNmMock(bool withNetworkManager = true);

    // Empty when everything started, else what went wrong.
    const QString& Problem() const { return FBus.Problem(); }
    QDBusConnection Bus() const;

    // A connection profile; typeSettings go to the section named after the type.
    QString AddProfile(const QString& id, const QString& type,
                       const QVariantMap& typeSettings = {});
    void DeleteProfile(const QString& path);
    // A wired device; the stand-in deactivates through its devices, so tests add one.
    QString AddDevice(const QString& interfaceName);
    // An IP4Config object with one address and a gateway.
    QString AddIp4Config(const QString& address, const QString& gateway);
    // From now on an activation starts in this state and carries this IP4Config.
    void ScriptActivation(unsigned state, const QString& ip4Config = QString());
    // From now on an activation answers only once the file release exists, and the stand-in
    // answers nothing else meanwhile: NetworkManager thinking for as long as the test wants.
    void HoldActivation(const QString& release);

    // What another program does: activate and deactivate through NetworkManager.
    QString Activate(const QString& profilePath);
    void Deactivate(const QString& activePath);
    QStringList ActiveConnections();
    // Moves an active connection to another state, with NetworkManager's StateChanged signal
    // when a reason is given (reason < 0: only the property changes).
    void SetActiveState(const QString& activePath, unsigned state, int reason = -1);

    // Starts the stand-in afresh (no profiles), as if NetworkManager was started.
    bool StartNetworkManager();
    // Stops the stand-in, as if NetworkManager was stopped.
    void StopNetworkManager();
    // Sets a property of an active connection (only the property changes).
    void SetActiveProperty(const QString& activePath, const QString& name, const QVariant& value);
    // Lines in the stand-in's log: every call it received, or those naming method.
    int LoggedCalls(const QString& method = QString()) const;

private:
    QDBusMessage Call(const QString& path, const QString& iface, const QString& method,
                      const QVariantList& args);

    TPrivateBus FBus;
    int FIp4Count = 0;
};
