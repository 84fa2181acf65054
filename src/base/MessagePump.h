// ProcessMessages(): lets pending user-interface events run from inside long loops.
//
// The application installs a pump (its event loop's processEvents). Library code may call
// ProcessMessages() as often as once per byte: the call is time-sliced, so the pump runs at
// most once per slice and every other call returns after a counter decrement.
#pragma once

#include <cstdint>
#include <functional>

using TMessagePump = std::function<void()>;
// Monotonic milliseconds.
using TPumpClock = std::function<int64_t()>;

// Installs the pump; it then runs at most once every sliceMs milliseconds.
void InstallMessagePump(TMessagePump pump, int sliceMs = 5);
void RemoveMessagePump();
// Replaces the clock used for slicing (tests); an empty function restores the system clock.
void SetPumpClock(TPumpClock clock);
// Runs the installed pump now, whatever the slice says (not re-entered from inside the pump).
void ProcessMessagesNow();

namespace pump_detail {
extern bool gInstalled;
extern unsigned gCountdown;
void Slow();
} // namespace pump_detail

inline void ProcessMessages() {
    if (!pump_detail::gInstalled) return;
    if (--pump_detail::gCountdown != 0) return;
    pump_detail::Slow();
}
