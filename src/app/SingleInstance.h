// One window per user: a second start asks the first to come to the front and ends.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    // name identifies the program; the user's id is added so users do not meet.
    explicit TSingleInstance(const QString& name, QObject* parent = nullptr);

    // True when another instance answered and was asked to come to the front.
    bool NotifyRunning();
    // Starts listening for later starts; false when that is not possible.
    bool Listen();
    const QString& ServerName() const { return FName; }

signals:
    void Activate();

private:
    QString FName;
    QLocalServer* FServer = nullptr;
};
