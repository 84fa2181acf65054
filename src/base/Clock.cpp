#include "base/Clock.h"

#include <chrono>
#include <thread>

int64_t TSystemClock::NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t TSystemClock::WallMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void TSystemClock::Pause(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void TSystemClock::WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                             int64_t deadlineMs) {
    cv.wait_until(lock,
                  std::chrono::steady_clock::time_point(std::chrono::milliseconds(deadlineMs)));
}

void TManualClock::Pause(int ms) {
    Pauses.push_back(ms);
    Advance(ms);
}

void TManualClock::WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                             int64_t deadlineMs) {
    {
        std::lock_guard guard(FWaitersLock);
        FWaiters.push_back({&cv, lock.mutex()});
    }
    if (NowMs() < deadlineMs) cv.wait(lock);
    std::lock_guard guard(FWaitersLock);
    std::erase_if(FWaiters, [&](const TWaiter& w) { return w.Cv == &cv; });
}

void TManualClock::Advance(int64_t ms) {
    Now += ms;
    std::vector<TWaiter> waiters;
    {
        std::lock_guard guard(FWaitersLock);
        waiters = FWaiters;
    }
    // Taking the waiter's lock orders the wake after its look at the clock.
    for (const TWaiter& w : waiters) {
        std::lock_guard guard(*w.Lock);
        w.Cv->notify_all();
    }
}

namespace {
std::atomic<TClock*> gClock = nullptr;
} // namespace

TClock& Clock() {
    static TSystemClock system;
    TClock* installed = gClock.load();
    return installed ? *installed : system;
}

void SetClock(TClock* clock) {
    gClock = clock;
}

namespace {
class TInstalledClock : public TClock {
public:
    int64_t NowMs() override { return Clock().NowMs(); }
    int64_t WallMs() override { return Clock().WallMs(); }
    void Pause(int ms) override { Clock().Pause(ms); }
    void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   int64_t deadlineMs) override {
        Clock().WaitUntil(cv, lock, deadlineMs);
    }
    bool Runs() const override { return Clock().Runs(); }
};
} // namespace

TClock& InstalledClock() {
    static TInstalledClock clock;
    return clock;
}
