#include "NmMock.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <QUuid>

namespace {
const QString kNm = QStringLiteral("org.freedesktop.NetworkManager");
const QString kMainPath = QStringLiteral("/org/freedesktop");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kMockIface = QStringLiteral("org.freedesktop.DBus.Mock");
const QString kActiveIface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kIp4Iface = QStringLiteral("org.freedesktop.NetworkManager.IP4Config");
const QString kPropsIface = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr int kCallMs = 20000;

// A method for the stand-in's AddObject: (name, in, out, code). None are used,
// but the argument must have its D-Bus type.
struct TMockMethod {
    QString Name, In, Out, Code;
};
} // namespace

Q_DECLARE_METATYPE(TMockMethod)
using TNmSettingsMap = QMap<QString, QVariantMap>;

namespace {
QDBusArgument& operator<<(QDBusArgument& arg, const TMockMethod& m) {
    arg.beginStructure();
    arg << m.Name << m.In << m.Out << m.Code;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, TMockMethod& m) {
    arg.beginStructure();
    arg >> m.Name >> m.In >> m.Out >> m.Code;
    arg.endStructure();
    return arg;
}

void RegisterTypes() {
    static bool done = false;
    if (done) return;
    qDBusRegisterMetaType<TMockMethod>();
    qDBusRegisterMetaType<QList<TMockMethod>>();
    qDBusRegisterMetaType<TNmSettingsMap>();
    qDBusRegisterMetaType<QList<QVariantMap>>();
    done = true;
}
} // namespace

TNmMock::TNmMock(bool withNetworkManager) {
    RegisterTypes();
    if (withNetworkManager) StartNetworkManager();
}

bool TNmMock::StartNetworkManager() {
    return FBus.StartTemplate(QStringLiteral("networkmanager"), kNm,
                              {QStringLiteral("-l"), FBus.FilePath(QStringLiteral("nm.log"))});
}

void TNmMock::StopNetworkManager() {
    FBus.StopTemplate();
}

QDBusConnection TNmMock::Bus() const {
    return FBus.Connection();
}

QDBusMessage TNmMock::Call(const QString& path, const QString& iface, const QString& method,
                           const QVariantList& args) {
    QDBusMessage msg = QDBusMessage::createMethodCall(kNm, path, iface, method);
    msg.setArguments(args);
    QDBusMessage reply = Bus().call(msg, QDBus::Block, kCallMs);
    if (reply.type() == QDBusMessage::ErrorMessage)
        qWarning("stand-in call %s failed: %s", qPrintable(method),
                 qPrintable(reply.errorMessage()));
    return reply;
}

QString TNmMock::AddProfile(const QString& id, const QString& type,
                            const QVariantMap& typeSettings) {
    TNmSettingsMap settings;
    settings[QStringLiteral("connection")] = {
        {QStringLiteral("id"), id},
        {QStringLiteral("type"), type},
        {QStringLiteral("uuid"), QUuid::createUuid().toString(QUuid::WithoutBraces)}};
    if (!typeSettings.isEmpty()) settings[type] = typeSettings;
    const QDBusMessage reply =
        Call(kSettingsPath, QStringLiteral("org.freedesktop.NetworkManager.Settings"),
             QStringLiteral("AddConnection"), {QVariant::fromValue(settings)});
    return reply.arguments().isEmpty()
               ? QString()
               : qvariant_cast<QDBusObjectPath>(reply.arguments().at(0)).path();
}

void TNmMock::DeleteProfile(const QString& path) {
    Call(path, QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection"),
         QStringLiteral("Delete"), {});
}

QString TNmMock::AddDevice(const QString& interfaceName) {
    const QDBusMessage reply = Call(kMainPath, kMockIface, QStringLiteral("AddEthernetDevice"),
                                    {interfaceName + QStringLiteral("dev"), interfaceName, 30});
    return reply.arguments().isEmpty() ? QString() : reply.arguments().at(0).toString();
}

QString TNmMock::AddIp4Config(const QString& address, const QString& gateway) {
    const QString path =
        QStringLiteral("/org/freedesktop/NetworkManager/IP4Config/") + QString::number(++FIp4Count);
    const QList<QVariantMap> addressData = {
        {{QStringLiteral("address"), address}, {QStringLiteral("prefix"), 24u}}};
    const QVariantMap props = {{QStringLiteral("AddressData"), QVariant::fromValue(addressData)},
                               {QStringLiteral("Gateway"), gateway}};
    Call(kMainPath, kMockIface, QStringLiteral("AddObject"),
         {path, kIp4Iface, props, QVariant::fromValue(QList<TMockMethod>())});
    return path;
}

void TNmMock::ScriptActivation(unsigned state, const QString& ip4Config) {
    QString code =
        QStringLiteral("ret = self.activate_connection(self, args[0], args[1], args[2])\n"
                       "o = objects[ret]\n");
    if (!ip4Config.isEmpty())
        code += QStringLiteral("o.AddProperty('%1', 'Ip4Config', dbus.ObjectPath('%2'))\n")
                    .arg(kActiveIface, ip4Config);
    code += QStringLiteral("o.Set('%1', 'State', dbus.UInt32(%2))\n").arg(kActiveIface).arg(state);
    Call(kManagerPath, kMockIface, QStringLiteral("AddMethod"),
         {QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("ActivateConnection"),
          QStringLiteral("ooo"), QStringLiteral("o"), code});
}

void TNmMock::HoldActivation(const QString& release) {
    Call(kManagerPath, kMockIface, QStringLiteral("AddMethod"),
         {QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("ActivateConnection"),
          QStringLiteral("ooo"), QStringLiteral("o"),
          QStringLiteral("import os, time\n"
                         "while not os.path.exists('%1'): time.sleep(0.01)\n"
                         "ret = self.activate_connection(self, args[0], args[1], args[2])\n")
              .arg(release)});
}

QString TNmMock::Activate(const QString& profilePath) {
    const QDBusMessage reply = Call(kManagerPath, QStringLiteral("org.freedesktop.NetworkManager"),
                                    QStringLiteral("ActivateConnection"),
                                    {QVariant::fromValue(QDBusObjectPath(profilePath)),
                                     QVariant::fromValue(QDBusObjectPath(QStringLiteral("/"))),
                                     QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")))});
    return reply.arguments().isEmpty()
               ? QString()
               : qvariant_cast<QDBusObjectPath>(reply.arguments().at(0)).path();
}

void TNmMock::Deactivate(const QString& activePath) {
    Call(kManagerPath, QStringLiteral("org.freedesktop.NetworkManager"),
         QStringLiteral("DeactivateConnection"),
         {QVariant::fromValue(QDBusObjectPath(activePath))});
}

QStringList TNmMock::ActiveConnections() {
    const QDBusMessage reply = Call(
        kManagerPath, kPropsIface, QStringLiteral("Get"),
        {QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("ActiveConnections")});
    QStringList paths;
    if (reply.arguments().isEmpty()) return paths;
    const QVariant value = qvariant_cast<QDBusVariant>(reply.arguments().at(0)).variant();
    for (const QDBusObjectPath& p : qdbus_cast<QList<QDBusObjectPath>>(value)) paths << p.path();
    return paths;
}

void TNmMock::SetActiveProperty(const QString& activePath, const QString& name,
                                const QVariant& value) {
    Call(kMainPath, kMockIface, QStringLiteral("SetProperty"),
         {activePath, kActiveIface, name, QVariant::fromValue(QDBusVariant(value))});
}

void TNmMock::SetActiveState(const QString& activePath, unsigned state, int reason) {
    SetActiveProperty(activePath, QStringLiteral("State"), QVariant(uint(state)));
    if (reason >= 0)
        Call(activePath, kMockIface, QStringLiteral("EmitSignal"),
             {kActiveIface, QStringLiteral("StateChanged"), QStringLiteral("uu"),
              QVariantList{uint(state), uint(reason)}});
}

int TNmMock::LoggedCalls(const QString& method) const {
    QFile log(FBus.FilePath(QStringLiteral("nm.log")));
    if (!log.open(QIODevice::ReadOnly)) return 0;
    int calls = 0;
    for (const QByteArray& line : log.readAll().split('\n'))
        if (!line.isEmpty() && (method.isEmpty() || line.contains(method.toUtf8()))) ++calls;
    return calls;
}
