#include "PrivateBus.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QUuid>

#include <csignal>
#include <sys/prctl.h>

namespace pvtest {
namespace {
const char kDaemon[] = "/usr/bin/dbus-daemon";
// Debian's own interpreter: the one that has python3-dbusmock.
const char kPython[] = "/usr/bin/python3";
constexpr int kStartMs = 20000;

const char kBusConfig[] =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// A helper process ends with the test, also when the test crashes.
void EndWithParent(QProcess& process) {
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

void Stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(kStartMs)) {
        process.kill();
        process.waitForFinished(kStartMs);
    }
}
} // namespace

bool PumpUntil(const std::function<bool()>& done, int safetyMs) {
    QDeadlineTimer deadline(safetyMs);
    // Wakes the wait below when nothing else does, so the bound holds.
    QTimer guard;
    guard.setSingleShot(true);
    guard.start(safetyMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

TPrivateBus::TPrivateBus() {
    if (!FDir.isValid()) {
        FProblem = "no temporary folder";
        return;
    }
    QFile config(FDir.filePath("bus.conf"));
    if (!config.open(QIODevice::WriteOnly)) {
        FProblem = "cannot write the bus configuration";
        return;
    }
    config.write(QString::fromLatin1(kBusConfig).arg(FDir.path()).toUtf8());
    config.close();
    EndWithParent(FDaemon);
    FDaemon.start(kDaemon, {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
    if (!FDaemon.waitForStarted(kStartMs)) {
        FProblem = "dbus-daemon does not start (package dbus)";
        return;
    }
    while (!FDaemon.canReadLine() && FDaemon.waitForReadyRead(kStartMs)) {
    }
    FAddress = QString::fromLatin1(FDaemon.readLine()).trimmed();
    if (FAddress.isEmpty()) {
        FProblem = "dbus-daemon gave no address";
        return;
    }
    FConnectionName = "pv-test-" + QUuid::createUuid().toString(QUuid::Id128);
    if (!QDBusConnection::connectToBus(FAddress, FConnectionName).isConnected())
        FProblem = "cannot connect to the private bus";
}

TPrivateBus::~TPrivateBus() {
    for (QProcess& service : FServices) Stop(service);
    if (!FConnectionName.isEmpty()) QDBusConnection::disconnectFromBus(FConnectionName);
    Stop(FDaemon);
}

QDBusConnection TPrivateBus::Bus() const {
    return QDBusConnection(FConnectionName);
}

bool TPrivateBus::StartTemplate(const QString& templateName, const QString& busName) {
    if (!FProblem.isEmpty()) return false;
    QDBusConnection bus = Bus();
    // Its signal wakes the wait below when the service takes its name.
    QDBusServiceWatcher watcher(busName, bus, QDBusServiceWatcher::WatchForRegistration);
    QProcess& service = FServices.emplace_back();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", FAddress);
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", FAddress);
    service.setProcessEnvironment(env);
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    EndWithParent(service);
    service.start(kPython, {"-m", "dbusmock", "--template", templateName});
    const bool up = PumpUntil(
        [&] {
            return service.state() == QProcess::NotRunning ||
                   bus.interface()->isServiceRegistered(busName).value();
        },
        kStartMs);
    if (!up || service.state() == QProcess::NotRunning) {
        FProblem = "python3-dbusmock's " + templateName + " template does not start";
        return false;
    }
    return true;
}

QDBusMessage TPrivateBus::Call(const QString& service, const QString& path, const QString& iface,
                               const QString& method, const QVariantList& args) {
    QDBusMessage msg = QDBusMessage::createMethodCall(service, path, iface, method);
    msg.setArguments(args);
    return Bus().call(msg, QDBus::Block, kStartMs);
}

} // namespace pvtest
