// Waiting while the user interface stays alive.
#pragma once

namespace platform {
// Waits ms milliseconds while pending events run (input, timers, sockets), sleeping in the
// event loop rather than spinning. Without an application object, or when a clock other
// than the system clock is installed (tests), it is a plain Pause through that clock.
void WaitProcessingEvents(int ms);
} // namespace platform

#include <functional>

namespace platform {
// Runs events until done() holds or ms milliseconds have passed, sleeping in the event loop
// between events; true when done() held.
bool WaitUntil(const std::function<bool()>& done, int ms);
} // namespace platform
