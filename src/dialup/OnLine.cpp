#include "dialup/OnLine.h"

#include "base/Exceptions.h"
#include "dialup/DialUp.h"

#include <QTimer>

namespace {
constexpr int kDefaultInterval = 250;
}

TOnLineDetect::TOnLineDetect() : FDetector(std::make_unique<TDialUp>()) {
    FDetector->OnActiveConnection = [this](TDialUp*, int32_t, const TRasConnStatusA&,
                                           const std::string&, const std::string& EntryName,
                                           const std::string&,
                                           const std::string&) { FConnections.Add(EntryName); };
    // Binds RAS now. Without RAS the detector reads as offline; the polls report why.
    try {
        FDetector->GetEntries();
    } catch (const std::exception&) {
    }
    FPollTimer = std::make_unique<QTimer>();
    FPollTimer->setInterval(kDefaultInterval);
    QObject::connect(FPollTimer.get(), &QTimer::timeout, [this] { Poll(); });
    FPollTimer->start();
}

TOnLineDetect::~TOnLineDetect() = default;

int TOnLineDetect::Interval() const {
    return FPollTimer->interval();
}

void TOnLineDetect::SetInterval(int ms) {
    FPollTimer->setInterval(ms);
}

void TOnLineDetect::Poll() {
    FPollTimer->stop();
    FPrevCount = FConnections.Count();
    FConnections.Clear();
    std::string error;
    try {
        FDetector->GetConnections();
    } catch (const std::exception& e) {
        // RAS failed (it could not be bound, say): nothing is open as far as we can tell.
        FConnections.Clear();
        error = e.what();
    }
    // Polling goes on whatever the handler or RAS did; one failure must not end it.
    struct TRestart {
        QTimer& Timer;
        ~TRestart() { Timer.start(); }
    } restart{*FPollTimer};

    if (FConnections.Count() != FPrevCount && OnChange) OnChange(this);

    // Report a failure once, not four times a second while it lasts.
    const bool report = !error.empty() && error != FLastError;
    FLastError = error;
    if (report) throw Exception(error);
}
