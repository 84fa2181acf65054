// ProcessMessages(): lets pending user-interface events run from inside long loops.
//
// The application installs a pump (its event loop's processEvents). Library code may call
// ProcessMessages() as often as once per byte: the call is time-sliced, so the pump runs at
// most once per slice and every other call returns after a counter decrement. Slices are
// counted on the program's clock (base/Clock.h).
#pragma once

#include <cstdint>
#include <functional>

using TMessagePump = std::function<void()>;

// Installs the pump; it then runs at most once every sliceMs milliseconds.
void InstallMessagePump(TMessagePump pump, int sliceMs = 5);
void RemoveMessagePump();
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
