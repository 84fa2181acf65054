// Waiting while the user interface stays alive.
#pragma once

namespace platform {
// Waits ms milliseconds while pending events run (input, timers, sockets), sleeping in the
// event loop rather than spinning. Without an application object, or when a clock other
// than the system clock is installed (tests), it is a plain Pause through that clock.
void WaitProcessingEvents(int ms);
} // namespace platform
