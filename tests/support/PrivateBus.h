// A D-Bus daemon of the test's own, with the services a test puts on it: python3-dbusmock
// templates or programs of the test's choosing. Everything it starts ends with the object,
// and with the test process should that crash. Nothing here talks to the machine's own buses.
#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

class TPrivateBus {
public:
    // Starts the daemon and connects to it; Problem() says when that failed.
    TPrivateBus();
    ~TPrivateBus();
    TPrivateBus(const TPrivateBus&) = delete;
    TPrivateBus& operator=(const TPrivateBus&) = delete;

    // Empty while everything started, else what went wrong first.
    const QString& Problem() const { return FProblem; }
    const QString& Address() const { return FAddress; }
    // A connection of the test's own to the bus.
    QDBusConnection Connection() const;
    // A path in a folder that lives as long as the bus.
    QString FilePath(const QString& name) const;

    // Makes the bus the process's session bus (DBUS_SESSION_BUS_ADDRESS) until the object
    // goes; the previous value is then restored.
    void UseAsSessionBus();

    // Starts python3-dbusmock with the template and waits until busName is on the bus. The
    // template's objects land here whether it asks for the session or the system bus.
    bool StartTemplate(const QString& templateName, const QString& busName,
                       const QStringList& extraArgs = {});
    // Ends the template's process, as if the service was stopped; true when one ran.
    bool StopTemplate();

    // Waits until busName is on the bus; false when process ended first or safetyMs passed.
    bool WaitForName(const QString& busName, const QProcess& process, int safetyMs = 20000);

    // A helper process gets SIGTERM when the test process ends, also on a crash, so that it
    // never keeps the test's output open.
    static void EndWithParent(QProcess& process);

private:
    bool Fail(const QString& problem);

    QTemporaryDir FDir;
    QProcess FDaemon;
    QProcess FTemplate;
    QString FAddress;
    QString FConnectionName;
    QString FProblem;
    std::optional<QByteArray> FSavedSession;
    bool FSessionSet = false;
};
