// Helpers of the dial-up tests: event-driven waits, a RAS provider installed for one test,
// and a recorder of TDialUp's events. Their clock is the program's TManualClock.
#pragma once

#include "base/Clock.h"
#include "dialup/DialUp.h"
#include "dialup/RasApi.h"
#include "dialup/RasSimScript.h"

class QElapsedTimer;
class QTimer;

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Runs the event loop until done() holds; false when safetyMs passed first. The limit only
// guards against a hang: the wait ends as soon as the awaited event has been handled.
bool WaitFor(const std::function<bool()>& done, int safetyMs = 20000);

// Measures how long the event loop goes without turning: a fine timer that records how late
// each of its ticks came.
class TStallMeter {
public:
    TStallMeter();
    ~TStallMeter();
    // The largest lateness of a tick so far, in milliseconds.
    int64_t LongestStallMs() const { return FLongest; }

private:
    std::unique_ptr<QTimer> FTimer;
    std::unique_ptr<QElapsedTimer> FClock;
    int64_t FLast = 0;
    int64_t FLongest = 0;
};

// Makes lib answer for "rasapi32.dll" (nullptr: nothing loads) until the object goes.
class TRasInstall {
public:
    explicit TRasInstall(std::shared_ptr<TRasLibrary> lib);
    ~TRasInstall();
};

// The simulator's script from text.
TRasSimScript Script(const std::string& text);

// Records TDialUp's events as readable lines, e.g. "Async 5 0 Start authenticating".
class TDialRecorder {
public:
    explicit TDialRecorder(TDialUp& dialUp);
    std::vector<std::string> Lines;
    int Count(const std::string& prefix) const;
    // Runs the event loop until the last line starts with prefix; false on the safety limit.
    bool WaitForLast(const std::string& prefix);
};
