#include "net/msutils.h"

#include "base/Exceptions.h"
#include "net/HiddenWindow.h"

namespace {
const char* const kNotEnoughTimers = "Not enough timers";
constexpr unsigned kTimerId = 1;
} // namespace

TmsTimer::TmsTimer()
    : FWindow(std::make_unique<THiddenWindow>([this](TMessage& m) { WndProc(m); })) {}

TmsTimer::~TmsTimer() {
    SetEnabled(false);
}

void TmsTimer::SetInterval(unsigned value) {
    if (value == FInterval) return;
    FInterval = value;
    UpdateTimer();
}

void TmsTimer::SetEnabled(bool value) {
    if (value == FEnabled) return;
    FEnabled = value;
    UpdateTimer();
}

void TmsTimer::SetOnTimer(TTimerEvent handler) {
    FOnTimer = std::move(handler);
    UpdateTimer();
}

void TmsTimer::UpdateTimer() {
    FWindow->KillTimer(kTimerId);
    if (FInterval != 0 && FEnabled && FOnTimer) {
        if (!FWindow->SetTimer(kTimerId, FInterval)) throw EOutOfResources(kNotEnoughTimers);
    }
}

void TmsTimer::WndProc(TMessage& message) {
    if (message.Msg == WM_TIMER && FOnTimer) FOnTimer(this);
}

TmsTimeCounter::TmsTimeCounter() {
    FTimer.SetEnabled(false);
    FTimer.SetOnTimer([this](TmsTimer*) { Tick(); });
}

void TmsTimeCounter::Start() {
    Remaining = TimeOut;
    FTimer.SetEnabled(true);
}

void TmsTimeCounter::Stop() {
    FTimer.SetEnabled(false);
}

void TmsTimeCounter::Restart() {
    Remaining = TimeOut;
    TimedOut = FDeadlinePassed;
    FTimer.SetEnabled(true);
}

void TmsTimeCounter::Tick() {
    --Remaining;
    if (FDeadlineLeft > 0 && --FDeadlineLeft == 0) FDeadlinePassed = true;
    if (Remaining <= 0 || FDeadlinePassed) TimedOut = true;
}

void TmsTimeCounter::SetDeadline(int64_t seconds) {
    FDeadlineLeft = seconds > 0 ? seconds : 0;
    FDeadlinePassed = false;
}
