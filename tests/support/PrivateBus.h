// A D-Bus daemon of the test's own, and python3-dbusmock services on it. Nothing here talks
// to the machine's buses; the daemon and the services end with the test process.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QVariantList>

#include <functional>
#include <list>

namespace pvtest {

class TPrivateBus {
public:
    TPrivateBus();
    ~TPrivateBus();
    TPrivateBus(const TPrivateBus&) = delete;
    TPrivateBus& operator=(const TPrivateBus&) = delete;

    // Empty when the bus is up, else what went wrong.
    const QString& Problem() const { return FProblem; }
    const QString& Address() const { return FAddress; }
    // A connection of the test's own to the bus.
    QDBusConnection Bus() const;

    // Starts python3-dbusmock's template on the bus and waits until it owns busName. False
    // (with Problem() saying why) when it does not come up.
    bool StartTemplate(const QString& templateName, const QString& busName);
    // A method call on the bus, waited for; the reply (an error reply when it failed).
    QDBusMessage Call(const QString& service, const QString& path, const QString& iface,
                      const QString& method, const QVariantList& args = {});

private:
    QTemporaryDir FDir;
    QProcess FDaemon;
    std::list<QProcess> FServices;
    QString FAddress;
    QString FConnectionName;
    QString FProblem;
};

// Runs the event loop until done() holds; the bound only ends a test whose peer never answers.
bool PumpUntil(const std::function<bool()>& done, int safetyMs = 20000);

} // namespace pvtest
