#include "DialTestSupport.h"

#include "dialup/RasBinding.h"
#include "net/EventWait.h"

#include <QElapsedTimer>
#include <QTimer>

bool WaitFor(const std::function<bool()>& done, int safetyMs) {
    return WaitEvents(Clock().NowMs() + safetyMs, nullptr, done) == TWaitEnd::Done;
}

namespace {
constexpr int kStallTickMs = 2;
}

TStallMeter::TStallMeter()
    : FTimer(std::make_unique<QTimer>()), FClock(std::make_unique<QElapsedTimer>()) {
    FTimer->setTimerType(Qt::PreciseTimer);
    FTimer->setInterval(kStallTickMs);
    QObject::connect(FTimer.get(), &QTimer::timeout, [this] {
        const int64_t now = FClock->elapsed();
        FLongest = std::max(FLongest, now - FLast - kStallTickMs);
        FLast = now;
    });
    FClock->start();
    FTimer->start();
}

TStallMeter::~TStallMeter() = default;

TRasInstall::TRasInstall(std::shared_ptr<TRasLibrary> lib) {
    SetRasLoader([lib](const std::string& fileName) -> std::shared_ptr<TRasLibrary> {
        return fileName == "rasapi32.dll" ? lib : nullptr;
    });
}

TRasInstall::~TRasInstall() {
    SetRasLoader(nullptr);
}

TRasSimScript Script(const std::string& text) {
    return ParseRasSimScript(text);
}

TDialRecorder::TDialRecorder(TDialUp& d) {
    auto add = [this](std::string line) { Lines.push_back(std::move(line)); };
    d.OnEntryGet = [add](TDialUp*, const std::string& name) { add("Entry " + name); };
    d.OnDialing = [add](TDialUp*) { add("Dialing"); };
    d.OnConnect = [add](TDialUp*) { add("Connect"); };
    d.OnNotConnected = [add](TDialUp*, int32_t code, const std::string& text) {
        add("NotConnected " + std::to_string(code) + " " + text);
    };
    d.OnError = [add](TDialUp*, int32_t code, const std::string& text) {
        add("Error " + std::to_string(code) + " " + text);
    };
    d.OnAsyncEvent = [add](TDialUp*, int32_t state, int32_t error, const std::string& text) {
        add("Async " + std::to_string(state) + " " + std::to_string(error) + " " + text);
    };
    d.OnActiveConnection = [add](TDialUp*, int32_t, const TRasConnStatusA& status,
                                 const std::string& text, const std::string& entry,
                                 const std::string& type, const std::string& device) {
        add("Active " + entry + " | " + type + " | " + device + " | " +
            std::to_string(status.rasconnstate) + " | " + text);
    };
}

int TDialRecorder::Count(const std::string& prefix) const {
    int n = 0;
    for (const std::string& l : Lines)
        if (l.rfind(prefix, 0) == 0) ++n;
    return n;
}

bool TDialRecorder::WaitForLast(const std::string& prefix) {
    return WaitFor([&] { return !Lines.empty() && Lines.back().rfind(prefix, 0) == 0; });
}
