#include "platform/EventWait.h"

#include "platform/Clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

void platform::WaitProcessingEvents(int ms) {
    if (ms <= 0) return;
    QCoreApplication* app = QCoreApplication::instance();
    const bool systemClock = dynamic_cast<TSystemClock*>(&Clock()) != nullptr;
    if (!app || !systemClock || QThread::currentThread() != app->thread()) {
        Pause(ms);
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool platform::WaitUntil(const std::function<bool()>& done, int ms) {
    bool expired = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&expired] { expired = true; });
    deadline.start(ms);
    while (!done() && !expired) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}
