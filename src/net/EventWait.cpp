#include "net/EventWait.h"

#include "base/Clock.h"
#include "base/Exceptions.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace {
const char* const kNoEventLoop = "Non-blocking sockets need the application's event loop";

int Clamp(int64_t ms) {
    return int(std::min<int64_t>(ms, std::numeric_limits<int>::max()));
}

bool OnApplicationThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}
} // namespace

TWaitEnd WaitEvents(int64_t deadlineMs, const bool* cancel, const std::function<bool()>& done) {
    TClock& clock = Clock();
    std::optional<QTimer> wake;
    for (;;) {
        if (done && done()) return TWaitEnd::Done;
        if (cancel && *cancel) return TWaitEnd::Cancelled;
        const int64_t left = deadlineMs - clock.NowMs();
        if (left <= 0) return TWaitEnd::Deadline;
        if (!done && (!clock.Runs() || !OnApplicationThread())) {
            clock.Pause(Clamp(left));
            continue;
        }
        if (!QCoreApplication::instance()) throw Exception(kNoEventLoop);
        if (clock.Runs() && deadlineMs != kNoDeadline) {
            if (!wake) {
                wake.emplace();
                wake->setSingleShot(true);
                wake->setTimerType(Qt::PreciseTimer);
            }
            // A timer may fire a little before the clock says so: then it is armed again.
            if (!wake->isActive()) wake->start(Clamp(left));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void WaitProcessingEvents(int ms) {
    if (ms > 0) WaitEvents(Clock().NowMs() + ms);
}

void WaitForMessages() {
    bool turned = false;
    WaitEvents(kNoDeadline, nullptr, [&turned] { return std::exchange(turned, true); });
}
