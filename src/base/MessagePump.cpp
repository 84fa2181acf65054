#include "MessagePump.h"

#include <ctime>

namespace pump_detail {
bool gInstalled = false;
unsigned gCountdown = 1;
} // namespace pump_detail

namespace {
// Calls between two looks at the clock: cheap enough for per-byte callers, frequent enough
// for per-line ones.
constexpr unsigned kCallsPerClockCheck = 128;

TMessagePump gPump;
TPumpClock gClock;
int gSliceMs = 5;
int64_t gLastPump = 0;
bool gInsidePump = false;

int64_t Now() {
    if (gClock) return gClock();
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void RunPump() {
    if (!gPump || gInsidePump) return;
    gInsidePump = true;
    try {
        gPump();
    } catch (...) {
        gInsidePump = false;
        throw;
    }
    gInsidePump = false;
    gLastPump = Now();
}
} // namespace

void InstallMessagePump(TMessagePump pump, int sliceMs) {
    gPump = std::move(pump);
    gSliceMs = sliceMs < 0 ? 0 : sliceMs;
    pump_detail::gInstalled = bool(gPump);
    pump_detail::gCountdown = 1;
    gLastPump = Now();
}

void RemoveMessagePump() {
    InstallMessagePump(nullptr);
}

void SetPumpClock(TPumpClock clock) {
    gClock = std::move(clock);
    gLastPump = Now();
}

void ProcessMessagesNow() {
    RunPump();
}

void pump_detail::Slow() {
    gCountdown = kCallsPerClockCheck;
    if (Now() - gLastPump >= gSliceMs) RunPump();
}
