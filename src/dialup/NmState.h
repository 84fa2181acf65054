// A mirror of NetworkManager's connection profiles and active connections on the D-Bus
// system bus, kept current from NetworkManager's change signals, so that reading it costs no
// bus round trip. Lives on the GUI thread, and never waits there for NetworkManager: every
// read and every request goes out as a pending call and is taken in when it is answered.
#pragma once

#include <QDBusConnection>
#include <QHash>
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

// The first address and the gateway of an IP4Config or IP6Config object.
struct TNmIp {
    QString Address, Gateway;
    bool Failed = false; // NetworkManager did not answer for it
};

// An active connection ("Connection.Active").
struct TNmActive {
    QString Path, Profile, Id, Type;
    QString Ip4Config;                      // object path, empty or "/" when there is none
    QString Ip6Config;                      // likewise
    TNmIp Ip4, Ip6;                         // their contents, once read
    QString DeviceName;                     // interface of its first device, once read
    bool Default = false, Default6 = false; // it carries the IPv4 / IPv6 default route
    uint State = nmUnknown;
    int Reason = -1; // why State was reached, -1 while NetworkManager has not said
};

class TNmState : public QObject {
    Q_OBJECT
public:
    explicit TNmState(const QDBusConnection& bus);
    ~TNmState() override;

    // Starts reading everything and following the changes; false when NetworkManager is not
    // on the bus. The mirror fills as the answers come in; OnLoaded follows the last one.
    bool Load();
    // The last load has been answered in full; false again while NetworkManager is away or
    // when it did not answer.
    bool Loaded() const { return FLoaded; }
    // A load is waiting for answers.
    bool Loading() const { return FLoadPending > 0; }

    const std::vector<TNmProfile>& Profiles() const { return FProfiles; }
    // Active connections in NetworkManager's order.
    const std::vector<TNmActive>& Actives() const { return FActives; }
    const TNmActive* FindActive(const QString& path) const;

    // Asks NetworkManager to activate a profile; done gets the active connection's path, or
    // an empty path and the D-Bus error name. With wait the answer is awaited (a synchronous
    // dial blocks by its nature), else done runs later from the event loop.
    using TActivated = std::function<void(const QString& activePath, const QString& errorName)>;
    void Activate(const QString& profilePath, const TActivated& done, bool wait = false);
    // Asks NetworkManager to deactivate an active connection; a refusal is logged.
    void Deactivate(const QString& activePath);
    // Makes sure an active connection is mirrored (it may be newer than the last signal).
    void Follow(const QString& activePath);
    // The State property read from the bus, awaited; nmDeactivated when the object is gone.
    // For the synchronous dial only.
    uint ReadState(const QString& activePath);

    // Called after an active connection appeared, changed state or went (FindActive is then
    // null), and for every mirrored one when NetworkManager goes away.
    std::function<void(const QString& activePath)> OnActiveChanged;
    // Called when a load has been answered in full (also when NetworkManager failed it).
    std::function<void()> OnLoaded;

private slots:
    void PropertiesChanged(const QString& iface, const QVariantMap& changed,
                           const QStringList& invalidated, const QDBusMessage& message);
    void ActiveStateChanged(uint state, uint reason, const QDBusMessage& message);
    void ProfileAdded(const QDBusObjectPath& path);
    void ProfileRemoved(const QDBusObjectPath& path);
    void ProfileUpdated(const QDBusMessage& message);
    void ServiceGone();
    void ServiceBack();

private:
    // A state change that came while the active connection's properties were being read.
    struct TEarlyState {
        uint State = nmUnknown;
        int Reason = -1;
    };
    using TReplied = std::function<void(const QDBusMessage& reply)>;

    // Sends a call; replied runs from the event loop with the answer, unless the mirror has
    // been cleared since (current: only while it is the same load).
    void Send(const QString& path, const QString& iface, const QString& method,
              const QVariantList& args, const TReplied& replied, bool current = true,
              int timeoutMs = -1);
    void SetActivePaths(const QStringList& paths, bool forLoad);
    void AddActive(const QString& path, bool forLoad);
    void ActiveRead(const QString& path, const QDBusMessage& reply);
    void ReadDevice(const QString& activePath, const QString& devicePath);
    void ReadIp(const QString& activePath, bool v6);
    void TakeIp(const QString& configPath, const QVariantMap& props, bool v6, bool failed);
    void DropActive(QString path); // a copy: the caller's may live in the list
    void SetState(TNmActive& active, uint state, int reason);
    void ReadProfile(const QString& path, bool forLoad);
    void TakeProfile(const QString& path, const QDBusMessage& reply);
    void ManagerChanged(const QVariantMap& changed);
    void Early(const QString& path, uint state, int reason);
    void SortActives();
    void LoadStep(int delta, bool failed = false);
    void Clear();
    TNmActive* Active(const QString& path);

    QDBusConnection FBus;
    std::unique_ptr<QDBusServiceWatcher> FWatcher;
    std::vector<TNmProfile> FProfiles;
    std::vector<TNmActive> FActives;
    QStringList FOrder;                   // the manager's last list, with our pinned ones
    QStringList FPinned;                  // followed after our activation, not yet listed
    QHash<QString, TEarlyState> FReading; // active connections whose properties are asked for
    QHash<QString, int> FProfileReads;    // the latest read of each profile
    int FReadCount = 0;
    int FGeneration = 0; // counts the clearings: older answers are dropped
    int FLoadPending = 0;
    bool FLoadFailed = false;
    bool FLoaded = false;
};
