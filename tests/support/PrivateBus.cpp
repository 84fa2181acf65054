#include "PrivateBus.h"

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QUuid>

#include <csignal>
#include <sys/prctl.h>

namespace {
const char kDaemon[] = "/usr/bin/dbus-daemon";
// The system's interpreter: python3-dbusmock is a Debian package.
const char kPython[] = "/usr/bin/python3";
const char kSessionVar[] = "DBUS_SESSION_BUS_ADDRESS";
constexpr int kSafetyMs = 20000;

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

void Stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(kSafetyMs)) {
        process.kill();
        process.waitForFinished(kSafetyMs);
    }
}
} // namespace

void TPrivateBus::EndWithParent(QProcess& process) {
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

TPrivateBus::TPrivateBus() {
    if (!FDir.isValid()) {
        Fail(QStringLiteral("no temporary folder"));
        return;
    }
    QFile config(FilePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly)) {
        Fail(QStringLiteral("cannot write the bus configuration"));
        return;
    }
    config.write(QString::fromLatin1(kBusConfig).arg(FDir.path()).toUtf8());
    config.close();

    EndWithParent(FDaemon);
    FDaemon.start(QString::fromLatin1(kDaemon),
                  {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    if (!FDaemon.waitForStarted(kSafetyMs)) {
        Fail(QStringLiteral("dbus-daemon does not start (package dbus)"));
        return;
    }
    while (!FDaemon.canReadLine() && FDaemon.waitForReadyRead(kSafetyMs)) {
    }
    FAddress = QString::fromLatin1(FDaemon.readLine()).trimmed();
    if (FAddress.isEmpty()) {
        Fail(QStringLiteral("dbus-daemon gave no address"));
        return;
    }
    FConnectionName = QStringLiteral("pv-test-") + QUuid::createUuid().toString(QUuid::Id128);
    if (!QDBusConnection::connectToBus(FAddress, FConnectionName).isConnected())
        Fail(QStringLiteral("cannot connect to the private bus"));
}

TPrivateBus::~TPrivateBus() {
    StopTemplate();
    if (!FConnectionName.isEmpty()) QDBusConnection::disconnectFromBus(FConnectionName);
    Stop(FDaemon);
    if (FSessionSet) {
        if (FSavedSession)
            qputenv(kSessionVar, *FSavedSession);
        else
            qunsetenv(kSessionVar);
    }
}

bool TPrivateBus::Fail(const QString& problem) {
    if (FProblem.isEmpty()) FProblem = problem;
    return false;
}

QDBusConnection TPrivateBus::Connection() const {
    return QDBusConnection(FConnectionName);
}

QString TPrivateBus::FilePath(const QString& name) const {
    return FDir.filePath(name);
}

void TPrivateBus::UseAsSessionBus() {
    if (!FSessionSet) {
        if (qEnvironmentVariableIsSet(kSessionVar)) FSavedSession = qgetenv(kSessionVar);
        FSessionSet = true;
    }
    qputenv(kSessionVar, FAddress.toUtf8());
}

bool TPrivateBus::StartTemplate(const QString& templateName, const QString& busName,
                                const QStringList& extraArgs) {
    if (!FProblem.isEmpty()) return false;
    StopTemplate();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), FAddress);
    env.insert(QString::fromLatin1(kSessionVar), FAddress);
    FTemplate.setProcessEnvironment(env);
    FTemplate.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    EndWithParent(FTemplate);
    FTemplate.start(QString::fromLatin1(kPython),
                    QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock"),
                                QStringLiteral("--template"), templateName} +
                        extraArgs);
    if (!WaitForName(busName, FTemplate))
        return Fail(
            QStringLiteral("python3-dbusmock's %1 template does not start").arg(templateName));
    return true;
}

bool TPrivateBus::StopTemplate() {
    const bool running = FTemplate.state() != QProcess::NotRunning;
    Stop(FTemplate);
    return running;
}

bool TPrivateBus::WaitForName(const QString& busName, const QProcess& process, int safetyMs) {
    if (!FProblem.isEmpty()) return false;
    QDBusConnection bus = Connection();
    QEventLoop loop;
    QDBusServiceWatcher watcher(busName, bus, QDBusServiceWatcher::WatchForRegistration);
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    // The timer only bounds a failure: the wait ends when the name appears.
    QTimer::singleShot(safetyMs, &loop, &QEventLoop::quit);
    auto registered = [&] { return bus.interface()->isServiceRegistered(busName).value(); };
    if (process.state() != QProcess::NotRunning && !registered()) loop.exec();
    return process.state() != QProcess::NotRunning && registered();
}
