#include "MessagePump.h"

#include "base/Clock.h"

namespace pump_detail {
bool gInstalled = false;
unsigned gCountdown = 1;
} // namespace pump_detail

namespace {
// Calls between two looks at the clock: cheap enough for per-byte callers, frequent enough
// for per-line ones.
constexpr unsigned kCallsPerClockCheck = 128;

TMessagePump gPump;
int gSliceMs = 5;
int64_t gLastPump = 0;
bool gInsidePump = false;

int64_t Now() {
    return Clock().NowMs();
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

void ProcessMessagesNow() {
    RunPump();
}

void pump_detail::Slow() {
    gCountdown = kCallsPerClockCheck;
    // A clock installed since the last run may stand behind it: that counts as a slice gone.
    const int64_t now = Now();
    if (now - gLastPump >= gSliceMs || now < gLastPump) RunPump();
}
