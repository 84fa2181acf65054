// A mirror of NetworkManager's connection profiles and active connections on the D-Bus
// system bus, kept current from NetworkManager's change signals, so that reading it costs no
// bus round trip. Lives on the GUI thread.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <vector>

class QDBusMessage;
class QDBusObjectPath;
class QDBusServiceWatcher;

// NetworkManager's states of an active connection.
enum TNmActiveState : uint {
    nmUnknown = 0,
    nmActivating = 1,
    nmActivated = 2,
    nmDeactivating = 3,
    nmDeactivated = 4,
};

// A connection profile ("Settings.Connection").
struct TNmProfile {
    QString Path, Id, Uuid, Type;
    QString UserName, PhoneNumber; // from the type's own settings, where it has them
};

// An active connection ("Connection.Active").
struct TNmActive {
    QString Path, Profile, Id, Type;
    QString Ip4Config;                      // object path, empty or "/" when there is none
    QString Ip6Config;                      // likewise
    QString DeviceName;                     // interface of its first device, if any
    bool Default = false, Default6 = false; // it carries the IPv4 / IPv6 default route
    uint State = nmUnknown;
    int Reason = -1; // why State was reached, -1 while NetworkManager has not said
};

class TNmState : public QObject {
    Q_OBJECT
public:
    explicit TNmState(const QDBusConnection& bus);
    ~TNmState() override;

    // Reads everything once and starts following the changes; false when NetworkManager
    // does not answer.
    bool Load();

    const std::vector<TNmProfile>& Profiles() const { return FProfiles; }
    // Active connections in NetworkManager's order.
    const std::vector<TNmActive>& Actives() const { return FActives; }
    const TNmActive* FindActive(const QString& path) const;

    // Blocking calls, for the rare moments that need them.
    // Activates a profile; the active connection's path, or an empty string and error.
    QString Activate(const QString& profilePath, QString& errorName);
    // Deactivates an active connection; empty on success, else the D-Bus error name.
    QString Deactivate(const QString& activePath);
    // Makes sure an active connection is mirrored (it may be newer than the last signal).
    void Follow(const QString& activePath);
    // The State property read from the bus; nmDeactivated when the object is gone.
    uint ReadState(const QString& activePath);
    // Client address and gateway of an IP4Config or IP6Config object; false when the bus
    // call failed.
    bool ReadIp4(const QString& ip4ConfigPath, QString& address, QString& gateway);
    bool ReadIp6(const QString& ip6ConfigPath, QString& address, QString& gateway);

    // Called after an active connection appeared, changed state or went (FindActive is then
    // null), and for every mirrored one when NetworkManager goes away.
    std::function<void(const QString& activePath)> OnActiveChanged;

private slots:
    void ManagerPropertiesChanged(const QString& iface, const QVariantMap& changed,
                                  const QStringList& invalidated);
    void ActivePropertiesChanged(const QString& iface, const QVariantMap& changed,
                                 const QStringList& invalidated, const QDBusMessage& message);
    void ActiveStateChanged(uint state, uint reason, const QDBusMessage& message);
    void ProfileAdded(const QDBusObjectPath& path);
    void ProfileRemoved(const QDBusObjectPath& path);
    void ProfileUpdated(const QDBusMessage& message);
    void ServiceGone();
    void ServiceBack();

private:
    void SetActivePaths(const QStringList& paths);
    bool AddActive(const QString& path);
    void DropActive(QString path); // a copy: the caller's may live in the list
    void SetState(TNmActive& active, uint state, int reason);
    bool ReadIp(const QString& configPath, const QString& iface, QString& address,
                QString& gateway);
    void ReadProfile(const QString& path);
    void Clear();
    TNmActive* Active(const QString& path);

    QDBusConnection FBus;
    std::unique_ptr<QDBusServiceWatcher> FWatcher;
    std::vector<TNmProfile> FProfiles;
    std::vector<TNmActive> FActives;
    QStringList FPinned; // followed after our activation, not yet listed by the manager
};
