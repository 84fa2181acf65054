// Time as the dial-up layer sees it: blocking pauses of the GUI thread and the timed waits
// of a provider's thread. The system clock sleeps for real; tests use a manual clock that
// they advance, so nothing in a test waits for wall-clock time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

class TDialClock {
public:
    virtual ~TDialClock() = default;

    // Monotonic milliseconds.
    virtual int64_t NowMs() const = 0;
    // Blocks the calling thread for ms milliseconds, no message pumping.
    virtual void Pause(int ms) = 0;
    // Called with lock held on cv's mutex: waits until NowMs() reaches deadlineMs or cv is
    // notified, then returns with lock held. May return early; callers loop.
    virtual void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                           int64_t deadlineMs) = 0;
};

// The steady clock of the system.
TDialClock& SystemDialClock();
