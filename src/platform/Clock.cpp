#include "platform/Clock.h"

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

namespace {
TClock* gClock = nullptr;
} // namespace

TClock& Clock() {
    static TSystemClock system;
    return gClock ? *gClock : system;
}

void SetClock(TClock* clock) {
    gClock = clock;
}
