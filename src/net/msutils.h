// The time-out machinery of the sockets: an interval timer with its own hidden window and a
// seconds countdown driven by it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class THiddenWindow;
struct TMessage;

class TmsTimer {
public:
    using TTimerEvent = std::function<void(TmsTimer* Sender)>;

    TmsTimer();
    ~TmsTimer();
    TmsTimer(const TmsTimer&) = delete;
    TmsTimer& operator=(const TmsTimer&) = delete;

    unsigned Interval() const { return FInterval; }
    void SetInterval(unsigned value);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    const TTimerEvent& OnTimer() const { return FOnTimer; }
    void SetOnTimer(TTimerEvent handler);

private:
    // Stops the timer and starts it again when it has an interval, is enabled and has a
    // handler; raises EOutOfResources "Not enough timers" when none can be started.
    void UpdateTimer();
    void WndProc(TMessage& message);

    unsigned FInterval = 1000;
    std::unique_ptr<THiddenWindow> FWindow;
    TTimerEvent FOnTimer;
    bool FEnabled = true;
};

// Counts seconds down while the event loop runs; TimedOut is set once Remaining reaches 0, or
// once the deadline has passed. Progress restarts Remaining, never the deadline: it bounds a
// whole answer however its bytes trickle in. Tests tick it by hand.
class TmsTimeCounter {
public:
    TmsTimeCounter();

    TmsTimer& Timer() { return FTimer; }
    int Remaining = 0;
    int TimeOut = 60;
    bool TimedOut = false;

    // Remaining := TimeOut and run (TimedOut stays as it is).
    void Start();
    void Stop();
    // Remaining := TimeOut, TimedOut cleared (unless the deadline has passed), running.
    void Restart();
    // One second has passed.
    void Tick();
    // The deadline: seconds from now, counted by the same ticks; 0 or less for none.
    void SetDeadline(int64_t seconds);

private:
    TmsTimer FTimer;
    int64_t FDeadlineLeft = 0;
    bool FDeadlinePassed = false;
};
