#include "dialup/DialClock.h"

#include <chrono>
#include <thread>

namespace {
class TSystemDialClock : public TDialClock {
public:
    int64_t NowMs() const override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    void Pause(int ms) override {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }

    void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                   int64_t deadlineMs) override {
        cv.wait_until(lock,
                      std::chrono::steady_clock::time_point(std::chrono::milliseconds(deadlineMs)));
    }
};
} // namespace

TDialClock& SystemDialClock() {
    static TSystemDialClock clock;
    return clock;
}
