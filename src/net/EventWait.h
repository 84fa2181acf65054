// The one way to wait while the user interface stays alive: events run (input, timers,
// sockets) and the thread sleeps in the event loop between them, until what the caller waits
// for holds, the caller is cancelled or the program's clock reaches a deadline.
//
// ProcessMessages() (base/MessagePump.h) is not a wait: it lets pending events run from
// inside long loops and returns at once.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>

enum class TWaitEnd { Done, Cancelled, Deadline };

inline constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();

// Waits until done() holds (checked first and after every turn of the event loop), *cancel
// is set or Clock().NowMs() reaches deadlineMs, and says which came first. done and cancel
// may be null.
//
// The deadline is counted on the installed clock. On the system clock a timer wakes the loop
// for it; a manual clock (tests) passes it only when moved, and a wait for time alone (no
// done) moves it there at once, as a pause does. Away from the application's thread a wait
// for time alone pauses on the clock; without an application any other wait raises.
TWaitEnd WaitEvents(int64_t deadlineMs, const bool* cancel = nullptr,
                    const std::function<bool()>& done = nullptr);

// Waits ms milliseconds while events run (WaitEvents for time alone).
void WaitProcessingEvents(int ms);

// One turn of the event loop: runs the pending events; when there are none, sleeps until one
// arrives (a socket notification, a timer). For loops that look at their own state after
// every event.
void WaitForMessages();
