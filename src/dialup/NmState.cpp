#include "dialup/NmState.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QtDebug>

#include <algorithm>

namespace {
const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kManagerIface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kSettingsIface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString kProfileIface = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kActiveIface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kDeviceIface = QStringLiteral("org.freedesktop.NetworkManager.Device");
const QString kIp4Iface = QStringLiteral("org.freedesktop.NetworkManager.IP4Config");
const QString kIp6Iface = QStringLiteral("org.freedesktop.NetworkManager.IP6Config");
const QString kPropsIface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kNoObject = QStringLiteral("/");

constexpr int kCallTimeoutMs = 5000;
constexpr int kActivateTimeoutMs = 20000;

using TSettings = QMap<QString, QVariantMap>;

QString PathOf(const QVariant& v) {
    return qvariant_cast<QDBusObjectPath>(v).path();
}

QStringList PathsOf(const QVariant& v) {
    QStringList paths;
    for (const QDBusObjectPath& p : qdbus_cast<QList<QDBusObjectPath>>(v)) paths << p.path();
    return paths;
}

// The user name and number a profile of this type keeps in its own settings.
void ReadTypeSettings(TNmProfile& p, const TSettings& settings) {
    const QVariantMap own = settings.value(p.Type);
    p.UserName = own.value(p.Type == QLatin1String("vpn") ? QStringLiteral("user-name")
                                                          : QStringLiteral("username"))
                     .toString();
    p.PhoneNumber = own.value(QStringLiteral("number")).toString();
}
} // namespace

namespace {
QDBusMessage Message(const QString& path, const QString& iface, const QString& method,
                     const QVariantList& args) {
    QDBusMessage msg = QDBusMessage::createMethodCall(kService, path, iface, method);
    msg.setArguments(args);
    // Never have the bus start NetworkManager on our behalf: a machine that does not run it
    // has its reasons.
    msg.setAutoStartService(false);
    return msg;
}

bool Failed(const QDBusMessage& reply) {
    return reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty();
}

QVariantMap MapOf(const QDBusMessage& reply) {
    return Failed(reply) ? QVariantMap() : qdbus_cast<QVariantMap>(reply.arguments().at(0));
}
} // namespace

TNmState::TNmState(const QDBusConnection& bus) : FBus(bus) {
    // One subscription for the changes of every object: active connections and their IP
    // configurations come and go too often to follow each on its own.
    FBus.connect(kService, QString(), kPropsIface, QStringLiteral("PropertiesChanged"), this,
                 SLOT(PropertiesChanged(QString, QVariantMap, QStringList, QDBusMessage)));
    FBus.connect(kService, QString(), kActiveIface, QStringLiteral("StateChanged"), this,
                 SLOT(ActiveStateChanged(uint, uint, QDBusMessage)));
    FBus.connect(kService, kSettingsPath, kSettingsIface, QStringLiteral("NewConnection"), this,
                 SLOT(ProfileAdded(QDBusObjectPath)));
    FBus.connect(kService, kSettingsPath, kSettingsIface, QStringLiteral("ConnectionRemoved"), this,
                 SLOT(ProfileRemoved(QDBusObjectPath)));
    FBus.connect(kService, QString(), kProfileIface, QStringLiteral("Updated"), this,
                 SLOT(ProfileUpdated(QDBusMessage)));
    FWatcher = std::make_unique<QDBusServiceWatcher>(
        kService, FBus,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration);
    connect(FWatcher.get(), &QDBusServiceWatcher::serviceUnregistered, this,
            &TNmState::ServiceGone);
    connect(FWatcher.get(), &QDBusServiceWatcher::serviceRegistered, this, &TNmState::ServiceBack);
}

TNmState::~TNmState() {
    OnActiveChanged = nullptr;
    OnLoaded = nullptr;
    Clear();
}

void TNmState::Send(const QString& path, const QString& iface, const QString& method,
                    const QVariantList& args, const TReplied& replied, bool current,
                    int timeoutMs) {
    auto* watcher =
        new QDBusPendingCallWatcher(FBus.asyncCall(Message(path, iface, method, args),
                                                   timeoutMs < 0 ? kCallTimeoutMs : timeoutMs),
                                    this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, replied, current, generation = FGeneration](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                if (!current || generation == FGeneration) replied(w->reply());
            });
}

bool TNmState::Load() {
    Clear();
    if (!FBus.interface() || !FBus.interface()->isServiceRegistered(kService).value()) return false;
    FLoadPending = 2;
    FLoadFailed = false;
    Send(kSettingsPath, kSettingsIface, QStringLiteral("ListConnections"), {},
         [this](const QDBusMessage& reply) {
             if (!Failed(reply))
                 for (const QString& path : PathsOf(reply.arguments().at(0)))
                     ReadProfile(path, true);
             LoadStep(-1, Failed(reply));
         });
    Send(kManagerPath, kPropsIface, QStringLiteral("Get"),
         {kManagerIface, QStringLiteral("ActiveConnections")}, [this](const QDBusMessage& reply) {
             if (!Failed(reply))
                 SetActivePaths(
                     PathsOf(qvariant_cast<QDBusVariant>(reply.arguments().at(0)).variant()), true);
             LoadStep(-1, Failed(reply));
         });
    return true;
}

// Counts the load's outstanding answers; the last one completes it.
void TNmState::LoadStep(int delta, bool failed) {
    FLoadPending += delta;
    FLoadFailed = FLoadFailed || failed;
    if (FLoadPending > 0) return;
    FLoaded = !FLoadFailed;
    if (OnLoaded) OnLoaded();
}

void TNmState::Clear() {
    ++FGeneration;
    FLoaded = false;
    FLoadPending = 0;
    FProfiles.clear();
    FProfileReads.clear();
    FReading.clear();
    FPinned.clear();
    FOrder.clear();
    while (!FActives.empty()) DropActive(FActives.back().Path);
}

const TNmActive* TNmState::FindActive(const QString& path) const {
    auto it = std::find_if(FActives.begin(), FActives.end(),
                           [&](const TNmActive& a) { return a.Path == path; });
    return it == FActives.end() ? nullptr : &*it;
}

TNmActive* TNmState::Active(const QString& path) {
    return const_cast<TNmActive*>(FindActive(path));
}

// Only the latest read of a profile counts: a removal or a newer read since makes it stale.
void TNmState::ReadProfile(const QString& path, bool forLoad) {
    const int read = ++FReadCount;
    FProfileReads[path] = read;
    if (forLoad) LoadStep(+1);
    Send(path, kProfileIface, QStringLiteral("GetSettings"), {},
         [this, path, read, forLoad](const QDBusMessage& reply) {
             if (FProfileReads.value(path) == read) {
                 FProfileReads.remove(path);
                 TakeProfile(path, reply);
             }
             if (forLoad) LoadStep(-1);
         });
}

void TNmState::TakeProfile(const QString& path, const QDBusMessage& reply) {
    auto it = std::find_if(FProfiles.begin(), FProfiles.end(),
                           [&](const TNmProfile& p) { return p.Path == path; });
    if (Failed(reply)) {
        if (it != FProfiles.end()) FProfiles.erase(it);
        return;
    }
    const TSettings settings = qdbus_cast<TSettings>(reply.arguments().at(0));
    const QVariantMap connection = settings.value(QStringLiteral("connection"));
    TNmProfile p;
    p.Path = path;
    p.Id = connection.value(QStringLiteral("id")).toString();
    p.Uuid = connection.value(QStringLiteral("uuid")).toString();
    p.Type = connection.value(QStringLiteral("type")).toString();
    ReadTypeSettings(p, settings);
    if (it != FProfiles.end())
        *it = std::move(p);
    else
        FProfiles.push_back(std::move(p));
}

// Mirrors the manager's list: drops what left it, reads what joined, keeps its order.
void TNmState::SetActivePaths(const QStringList& paths, bool forLoad) {
    FOrder = paths;
    std::vector<QString> gone;
    for (const TNmActive& a : FActives)
        if (!paths.contains(a.Path)) gone.push_back(a.Path);
    for (auto it = FReading.cbegin(); it != FReading.cend(); ++it)
        if (!paths.contains(it.key())) gone.push_back(it.key());
    for (const QString& path : gone) DropActive(path);
    for (const QString& path : paths)
        if (!FindActive(path) && !FReading.contains(path)) AddActive(path, forLoad);
    SortActives();
}

void TNmState::SortActives() {
    std::stable_sort(FActives.begin(), FActives.end(), [&](const TNmActive& a, const TNmActive& b) {
        return FOrder.indexOf(a.Path) < FOrder.indexOf(b.Path);
    });
}

// Signals are followed for every object already, so a change after the read's answer comes
// after it; a change before it is kept until the answer is in.
void TNmState::AddActive(const QString& path, bool forLoad) {
    FReading.insert(path, TEarlyState());
    if (forLoad) LoadStep(+1);
    Send(path, kPropsIface, QStringLiteral("GetAll"), {kActiveIface},
         [this, path, forLoad](const QDBusMessage& reply) {
             ActiveRead(path, reply);
             if (forLoad) LoadStep(-1);
         });
}

void TNmState::ActiveRead(const QString& path, const QDBusMessage& reply) {
    auto it = FReading.find(path);
    if (it == FReading.end()) return; // it went while we asked
    const TEarlyState early = *it;
    FReading.erase(it);
    if (Failed(reply)) {
        FPinned.removeAll(path);
        if (OnActiveChanged) OnActiveChanged(path);
        return;
    }
    const QVariantMap props = MapOf(reply);
    TNmActive a;
    a.Path = path;
    a.Profile = PathOf(props.value(QStringLiteral("Connection")));
    a.Id = props.value(QStringLiteral("Id")).toString();
    a.Type = props.value(QStringLiteral("Type")).toString();
    a.State = props.value(QStringLiteral("State")).toUInt();
    a.Ip4Config = PathOf(props.value(QStringLiteral("Ip4Config")));
    a.Ip6Config = PathOf(props.value(QStringLiteral("Ip6Config")));
    a.Default = props.value(QStringLiteral("Default")).toBool();
    a.Default6 = props.value(QStringLiteral("Default6")).toBool();
    if (early.State != nmUnknown) SetState(a, early.State, early.Reason);
    const QStringList devices = PathsOf(props.value(QStringLiteral("Devices")));
    FActives.push_back(std::move(a));
    SortActives();
    if (!devices.isEmpty()) ReadDevice(path, devices.first());
    ReadIp(path, false);
    ReadIp(path, true);
    if (OnActiveChanged) OnActiveChanged(path);
}

void TNmState::ReadDevice(const QString& activePath, const QString& devicePath) {
    Send(devicePath, kPropsIface, QStringLiteral("Get"),
         {kDeviceIface, QStringLiteral("Interface")},
         [this, activePath](const QDBusMessage& reply) {
             TNmActive* a = Active(activePath);
             if (a && !Failed(reply))
                 a->DeviceName =
                     qvariant_cast<QDBusVariant>(reply.arguments().at(0)).variant().toString();
         });
}

void TNmState::ReadIp(const QString& activePath, bool v6) {
    TNmActive* a = Active(activePath);
    if (!a) return;
    const QString config = v6 ? a->Ip6Config : a->Ip4Config;
    (v6 ? a->Ip6 : a->Ip4) = TNmIp();
    if (config.isEmpty() || config == kNoObject) return;
    Send(config, kPropsIface, QStringLiteral("GetAll"), {v6 ? kIp6Iface : kIp4Iface},
         [this, config, v6](const QDBusMessage& reply) {
             TakeIp(config, MapOf(reply), v6, Failed(reply));
         });
}

// Takes what is known of an IP configuration into every active connection that uses it.
void TNmState::TakeIp(const QString& configPath, const QVariantMap& props, bool v6, bool failed) {
    const QString addressData = QStringLiteral("AddressData"), gateway = QStringLiteral("Gateway");
    for (TNmActive& a : FActives) {
        if ((v6 ? a.Ip6Config : a.Ip4Config) != configPath) continue;
        TNmIp& ip = v6 ? a.Ip6 : a.Ip4;
        ip.Failed = failed;
        if (props.contains(addressData)) {
            const QList<QVariantMap> addresses =
                qdbus_cast<QList<QVariantMap>>(props.value(addressData));
            ip.Address = addresses.isEmpty()
                             ? QString()
                             : addresses.first().value(QStringLiteral("address")).toString();
        }
        if (props.contains(gateway)) ip.Gateway = props.value(gateway).toString();
    }
}

void TNmState::DropActive(QString path) {
    std::erase_if(FActives, [&](const TNmActive& a) { return a.Path == path; });
    FReading.remove(path);
    FPinned.removeAll(path);
    if (OnActiveChanged) OnActiveChanged(path);
}

// States only move forward (activating, activated, deactivating, deactivated), so a late
// signal from before the last read cannot set an active connection back. A reason belongs to
// the state it came with.
void TNmState::SetState(TNmActive& active, uint state, int reason) {
    if (state < active.State) return;
    if (state > active.State) {
        active.State = state;
        active.Reason = -1;
    }
    if (reason >= 0) active.Reason = reason;
}

void TNmState::ManagerChanged(const QVariantMap& changed) {
    auto it = changed.find(QStringLiteral("ActiveConnections"));
    if (it == changed.end()) return;
    const QStringList listed = PathsOf(*it);
    QStringList paths = listed;
    // An activation we started is followed before the manager lists it; an older list
    // must not drop it.
    for (const QString& pinned : FPinned)
        if (!listed.contains(pinned) && (FindActive(pinned) || FReading.contains(pinned)))
            paths << pinned;
    FPinned.removeIf([&](const QString& p) { return listed.contains(p); });
    SetActivePaths(paths, false);
}

void TNmState::PropertiesChanged(const QString& iface, const QVariantMap& changed,
                                 const QStringList&, const QDBusMessage& message) {
    const QString path = message.path();
    if (iface == kManagerIface && path == kManagerPath) return ManagerChanged(changed);
    if (iface == kIp4Iface || iface == kIp6Iface)
        return TakeIp(path, changed, iface == kIp6Iface, false);
    if (iface != kActiveIface) return;
    const QString state = QStringLiteral("State");
    TNmActive* a = Active(path);
    if (!a) {
        if (FReading.contains(path) && changed.contains(state))
            Early(path, changed.value(state).toUInt(), -1);
        return;
    }
    const uint before = a->State;
    if (changed.contains(state)) SetState(*a, changed.value(state).toUInt(), -1);
    if (changed.contains(QStringLiteral("Default")))
        a->Default = changed.value(QStringLiteral("Default")).toBool();
    if (changed.contains(QStringLiteral("Default6")))
        a->Default6 = changed.value(QStringLiteral("Default6")).toBool();
    if (changed.contains(QStringLiteral("Ip4Config"))) {
        a->Ip4Config = PathOf(changed.value(QStringLiteral("Ip4Config")));
        ReadIp(path, false);
    }
    if (changed.contains(QStringLiteral("Ip6Config"))) {
        a = Active(path);
        a->Ip6Config = PathOf(changed.value(QStringLiteral("Ip6Config")));
        ReadIp(path, true);
    }
    a = Active(path);
    if (a && a->State != before && OnActiveChanged) OnActiveChanged(path);
}

// A state change of an active connection whose properties are still being read.
void TNmState::Early(const QString& path, uint state, int reason) {
    TEarlyState& early = FReading[path];
    if (state < early.State) return;
    if (state > early.State) {
        early.State = state;
        early.Reason = -1;
    }
    if (reason >= 0) early.Reason = reason;
}

void TNmState::ActiveStateChanged(uint state, uint reason, const QDBusMessage& message) {
    TNmActive* a = Active(message.path());
    if (!a) {
        if (FReading.contains(message.path())) Early(message.path(), state, int(reason));
        return;
    }
    SetState(*a, state, int(reason));
    if (OnActiveChanged) OnActiveChanged(message.path());
}

void TNmState::ProfileAdded(const QDBusObjectPath& path) {
    ReadProfile(path.path(), false);
}

void TNmState::ProfileRemoved(const QDBusObjectPath& path) {
    FProfileReads.remove(path.path());
    std::erase_if(FProfiles, [&](const TNmProfile& p) { return p.Path == path.path(); });
}

void TNmState::ProfileUpdated(const QDBusMessage& message) {
    ReadProfile(message.path(), false);
}

void TNmState::ServiceGone() {
    Clear();
}

void TNmState::ServiceBack() {
    Load();
}

void TNmState::Activate(const QString& profilePath, const TActivated& done, bool wait) {
    const QVariantList args = {QVariant::fromValue(QDBusObjectPath(profilePath)),
                               QVariant::fromValue(QDBusObjectPath(kNoObject)),
                               QVariant::fromValue(QDBusObjectPath(kNoObject))};
    auto answer = [done](const QDBusMessage& reply) {
        if (Failed(reply))
            done(QString(), reply.errorName());
        else
            done(PathOf(reply.arguments().at(0)), QString());
    };
    if (wait) {
        QDBusPendingCall call = FBus.asyncCall(
            Message(kManagerPath, kManagerIface, QStringLiteral("ActivateConnection"), args),
            kActivateTimeoutMs);
        call.waitForFinished();
        answer(call.reply());
        return;
    }
    // The answer is wanted even when the mirror is cleared meanwhile: the dial waits for it.
    Send(kManagerPath, kManagerIface, QStringLiteral("ActivateConnection"), args, answer, false,
         kActivateTimeoutMs);
}

void TNmState::Deactivate(const QString& activePath) {
    Send(
        kManagerPath, kManagerIface, QStringLiteral("DeactivateConnection"),
        {QVariant::fromValue(QDBusObjectPath(activePath))},
        [activePath](const QDBusMessage& reply) {
            // Already down is what we wanted.
            if (reply.type() != QDBusMessage::ReplyMessage &&
                !reply.errorName().contains(QLatin1String("ConnectionNotActive")))
                qWarning("NetworkManager did not deactivate %s: %s", qPrintable(activePath),
                         qPrintable(reply.errorMessage()));
        },
        false);
}

void TNmState::Follow(const QString& activePath) {
    if (FindActive(activePath)) {
        if (OnActiveChanged) OnActiveChanged(activePath);
        return;
    }
    if (FReading.contains(activePath)) return; // its read reports it
    FPinned << activePath;
    if (!FOrder.contains(activePath)) FOrder << activePath;
    AddActive(activePath, false);
}

uint TNmState::ReadState(const QString& activePath) {
    const QDBusMessage reply = FBus.call(Message(activePath, kPropsIface, QStringLiteral("Get"),
                                                 {kActiveIface, QStringLiteral("State")}),
                                         QDBus::Block, kCallTimeoutMs);
    return Failed(reply) ? uint(nmDeactivated)
                         : qvariant_cast<QDBusVariant>(reply.arguments().at(0)).variant().toUInt();
}
