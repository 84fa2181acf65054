// The program's clock: monotonic time, wall-clock time, blocking pauses and the timed waits
// of worker threads.
//
// The real clock sleeps; tests install a manual clock whose pauses return at once and only
// move its time forward, so waits are counted instead of waited. Both may be read and waited
// on from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

class TClock {
public:
    virtual ~TClock() = default;
    // Monotonic milliseconds.
    virtual int64_t NowMs() = 0;
    // Milliseconds since the Unix epoch, local wall-clock time for display and file names.
    virtual int64_t WallMs() = 0;
    // Blocks the calling thread for ms milliseconds without letting any event run.
    virtual void Pause(int ms) = 0;
    // Called with lock held on cv's mutex: waits until NowMs() reaches deadlineMs or cv is
    // notified, then returns with lock held. May return early; callers loop.
    virtual void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                           int64_t deadlineMs) = 0;
    // True for a clock whose time passes by itself (then an event-loop timer can stand for
    // a deadline on it).
    virtual bool Runs() const { return false; }
};

class TSystemClock : public TClock {
public:
    int64_t NowMs() override;
    int64_t WallMs() override;
    void Pause(int ms) override;
    void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   int64_t deadlineMs) override;
    bool Runs() const override { return true; }
};

// A clock that only moves when told to (or by a pause, which it records). Advance() wakes
// the threads waiting on it; Pauses is for the thread that pauses.
class TManualClock : public TClock {
public:
    int64_t NowMs() override { return Now; }
    int64_t WallMs() override { return Wall + Now; }
    void Pause(int ms) override;
    void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   int64_t deadlineMs) override;
    void Advance(int64_t ms);

    std::atomic<int64_t> Now = 0;
    int64_t Wall = 1700000000000; // 2023-11-14
    std::vector<int> Pauses;

private:
    struct TWaiter {
        std::condition_variable* Cv;
        std::mutex* Lock;
    };
    std::mutex FWaitersLock;
    std::vector<TWaiter> FWaiters;
};

TClock& Clock();
// The clock installed at each call: for objects that may outlive the clock installed when
// they were made (a test's manual clock), so they never hold on to one that is gone.
TClock& InstalledClock();
// Installs a clock (not owned; nullptr restores the system clock).
void SetClock(TClock* clock);

namespace platform {
// Blocks for ms milliseconds through the installed clock.
inline void Pause(int ms) {
    Clock().Pause(ms);
}
} // namespace platform
