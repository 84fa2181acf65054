#include "dialup/NmState.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

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

TNmState::TNmState(const QDBusConnection& bus) : FBus(bus) {
    FBus.connect(kService, kManagerPath, kPropsIface, QStringLiteral("PropertiesChanged"), this,
                 SLOT(ManagerPropertiesChanged(QString, QVariantMap, QStringList)));
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
    Clear();
}

namespace {
QDBusMessage Call(QDBusConnection& bus, const QString& path, const QString& iface,
                  const QString& method, const QVariantList& args = {},
                  int timeoutMs = kCallTimeoutMs) {
    QDBusMessage msg = QDBusMessage::createMethodCall(kService, path, iface, method);
    msg.setArguments(args);
    // Never have the bus start NetworkManager on our behalf: a machine that does not run it
    // has its reasons.
    msg.setAutoStartService(false);
    return bus.call(msg, QDBus::Block, timeoutMs);
}

bool Failed(const QDBusMessage& reply) {
    return reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty();
}

QVariantMap GetAll(QDBusConnection& bus, const QString& path, const QString& iface, bool& ok) {
    const QDBusMessage reply = Call(bus, path, kPropsIface, QStringLiteral("GetAll"), {iface});
    ok = !Failed(reply);
    return ok ? qdbus_cast<QVariantMap>(reply.arguments().at(0)) : QVariantMap();
}

QVariant Get(QDBusConnection& bus, const QString& path, const QString& iface, const QString& name,
             bool& ok) {
    const QDBusMessage reply = Call(bus, path, kPropsIface, QStringLiteral("Get"), {iface, name});
    ok = !Failed(reply);
    return ok ? qvariant_cast<QDBusVariant>(reply.arguments().at(0)).variant() : QVariant();
}
} // namespace

bool TNmState::Load() {
    Clear();
    if (!FBus.interface() || !FBus.interface()->isServiceRegistered(kService).value()) return false;
    const QDBusMessage list =
        Call(FBus, kSettingsPath, kSettingsIface, QStringLiteral("ListConnections"));
    if (Failed(list)) return false;
    for (const QString& path : PathsOf(list.arguments().at(0))) ReadProfile(path);

    bool ok = false;
    const QVariant actives =
        Get(FBus, kManagerPath, kManagerIface, QStringLiteral("ActiveConnections"), ok);
    if (!ok) return false;
    SetActivePaths(PathsOf(actives));
    return true;
}

void TNmState::Clear() {
    FProfiles.clear();
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

void TNmState::ReadProfile(const QString& path) {
    const QDBusMessage reply = Call(FBus, path, kProfileIface, QStringLiteral("GetSettings"));
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

// Mirrors the manager's list: drops what left it, adds what joined, keeps its order.
void TNmState::SetActivePaths(const QStringList& paths) {
    std::vector<QString> gone;
    for (const TNmActive& a : FActives)
        if (!paths.contains(a.Path)) gone.push_back(a.Path);
    for (const QString& path : gone) DropActive(path);

    std::vector<QString> added;
    for (const QString& path : paths)
        if (!FindActive(path) && AddActive(path)) added.push_back(path);

    std::stable_sort(FActives.begin(), FActives.end(), [&](const TNmActive& a, const TNmActive& b) {
        return paths.indexOf(a.Path) < paths.indexOf(b.Path);
    });
    for (const QString& path : added)
        if (OnActiveChanged) OnActiveChanged(path);
}

bool TNmState::AddActive(const QString& path) {
    // Follow first, then read: a change in between arrives afterwards and is not lost.
    FBus.connect(kService, path, kPropsIface, QStringLiteral("PropertiesChanged"), this,
                 SLOT(ActivePropertiesChanged(QString, QVariantMap, QStringList, QDBusMessage)));
    FBus.connect(kService, path, kActiveIface, QStringLiteral("StateChanged"), this,
                 SLOT(ActiveStateChanged(uint, uint, QDBusMessage)));
    bool ok = false;
    const QVariantMap props = GetAll(FBus, path, kActiveIface, ok);
    if (!ok) {
        FBus.disconnect(
            kService, path, kPropsIface, QStringLiteral("PropertiesChanged"), this,
            SLOT(ActivePropertiesChanged(QString, QVariantMap, QStringList, QDBusMessage)));
        FBus.disconnect(kService, path, kActiveIface, QStringLiteral("StateChanged"), this,
                        SLOT(ActiveStateChanged(uint, uint, QDBusMessage)));
        return false;
    }
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
    const QStringList devices = PathsOf(props.value(QStringLiteral("Devices")));
    if (!devices.isEmpty())
        a.DeviceName =
            Get(FBus, devices.first(), kDeviceIface, QStringLiteral("Interface"), ok).toString();
    FActives.push_back(std::move(a));
    return true;
}

void TNmState::DropActive(QString path) {
    FBus.disconnect(kService, path, kPropsIface, QStringLiteral("PropertiesChanged"), this,
                    SLOT(ActivePropertiesChanged(QString, QVariantMap, QStringList, QDBusMessage)));
    FBus.disconnect(kService, path, kActiveIface, QStringLiteral("StateChanged"), this,
                    SLOT(ActiveStateChanged(uint, uint, QDBusMessage)));
    std::erase_if(FActives, [&](const TNmActive& a) { return a.Path == path; });
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

void TNmState::ManagerPropertiesChanged(const QString& iface, const QVariantMap& changed,
                                        const QStringList&) {
    if (iface != kManagerIface) return;
    auto it = changed.find(QStringLiteral("ActiveConnections"));
    if (it == changed.end()) return;
    const QStringList listed = PathsOf(*it);
    QStringList paths = listed;
    // An activation we started is followed before the manager lists it; an older list
    // must not drop it.
    for (const QString& pinned : FPinned)
        if (!listed.contains(pinned) && FindActive(pinned)) paths << pinned;
    FPinned.removeIf([&](const QString& p) { return listed.contains(p); });
    SetActivePaths(paths);
}

void TNmState::ActivePropertiesChanged(const QString& iface, const QVariantMap& changed,
                                       const QStringList&, const QDBusMessage& message) {
    TNmActive* a = Active(message.path());
    if (!a || iface != kActiveIface) return;
    const uint before = a->State;
    if (changed.contains(QStringLiteral("State")))
        SetState(*a, changed.value(QStringLiteral("State")).toUInt(), -1);
    if (changed.contains(QStringLiteral("Ip4Config")))
        a->Ip4Config = PathOf(changed.value(QStringLiteral("Ip4Config")));
    if (changed.contains(QStringLiteral("Ip6Config")))
        a->Ip6Config = PathOf(changed.value(QStringLiteral("Ip6Config")));
    if (changed.contains(QStringLiteral("Default")))
        a->Default = changed.value(QStringLiteral("Default")).toBool();
    if (changed.contains(QStringLiteral("Default6")))
        a->Default6 = changed.value(QStringLiteral("Default6")).toBool();
    if (a->State != before && OnActiveChanged) OnActiveChanged(message.path());
}

void TNmState::ActiveStateChanged(uint state, uint reason, const QDBusMessage& message) {
    TNmActive* a = Active(message.path());
    if (!a) return;
    SetState(*a, state, int(reason));
    if (OnActiveChanged) OnActiveChanged(message.path());
}

void TNmState::ProfileAdded(const QDBusObjectPath& path) {
    ReadProfile(path.path());
}

void TNmState::ProfileRemoved(const QDBusObjectPath& path) {
    std::erase_if(FProfiles, [&](const TNmProfile& p) { return p.Path == path.path(); });
}

void TNmState::ProfileUpdated(const QDBusMessage& message) {
    ReadProfile(message.path());
}

void TNmState::ServiceGone() {
    FPinned.clear();
    Clear();
}

void TNmState::ServiceBack() {
    Load();
}

QString TNmState::Activate(const QString& profilePath, QString& errorName) {
    const QDBusMessage reply =
        Call(FBus, kManagerPath, kManagerIface, QStringLiteral("ActivateConnection"),
             {QVariant::fromValue(QDBusObjectPath(profilePath)),
              QVariant::fromValue(QDBusObjectPath(kNoObject)),
              QVariant::fromValue(QDBusObjectPath(kNoObject))},
             kActivateTimeoutMs);
    if (Failed(reply)) {
        errorName = reply.errorName();
        return QString();
    }
    return PathOf(reply.arguments().at(0));
}

QString TNmState::Deactivate(const QString& activePath) {
    const QDBusMessage reply =
        Call(FBus, kManagerPath, kManagerIface, QStringLiteral("DeactivateConnection"),
             {QVariant::fromValue(QDBusObjectPath(activePath))});
    return reply.type() == QDBusMessage::ReplyMessage ? QString() : reply.errorName();
}

void TNmState::Follow(const QString& activePath) {
    if (!FindActive(activePath) && AddActive(activePath)) FPinned << activePath;
    if (OnActiveChanged) OnActiveChanged(activePath);
}

uint TNmState::ReadState(const QString& activePath) {
    bool ok = false;
    const QVariant state = Get(FBus, activePath, kActiveIface, QStringLiteral("State"), ok);
    return ok ? state.toUInt() : uint(nmDeactivated);
}

bool TNmState::ReadIp4(const QString& ip4ConfigPath, QString& address, QString& gateway) {
    return ReadIp(ip4ConfigPath, kIp4Iface, address, gateway);
}

bool TNmState::ReadIp6(const QString& ip6ConfigPath, QString& address, QString& gateway) {
    return ReadIp(ip6ConfigPath, kIp6Iface, address, gateway);
}

bool TNmState::ReadIp(const QString& configPath, const QString& iface, QString& address,
                      QString& gateway) {
    address.clear();
    gateway.clear();
    if (configPath.isEmpty() || configPath == kNoObject) return true;
    bool ok = false;
    const QVariantMap props = GetAll(FBus, configPath, iface, ok);
    if (!ok) return false;
    const QList<QVariantMap> addresses =
        qdbus_cast<QList<QVariantMap>>(props.value(QStringLiteral("AddressData")));
    if (!addresses.isEmpty())
        address = addresses.first().value(QStringLiteral("address")).toString();
    gateway = props.value(QStringLiteral("Gateway")).toString();
    return true;
}
