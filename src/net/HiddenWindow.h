// Hidden notification windows: a QObject that receives window messages (posted events with
// the message number as event type) and numbered timers, and hands both to a window
// procedure.
#pragma once

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <exception>
#include <functional>
#include <vector>

inline constexpr unsigned WM_TIMER = 0x0113;

struct TMessage {
    unsigned Msg = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
    intptr_t Result = 0;
};

// A posted window message; its event type is the message number (1000 and above).
class TWindowMessageEvent : public QEvent {
public:
    TWindowMessageEvent(unsigned msg, uintptr_t wParam, intptr_t lParam)
        : QEvent(QEvent::Type(msg)), WParam(wParam), LParam(lParam) {}
    uintptr_t WParam;
    intptr_t LParam;
};

// Queues message msg (1000..65535) for window; false when the number is out of that range.
bool PostWindowMessage(QObject* window, unsigned msg, uintptr_t wParam, intptr_t lParam);

class THiddenWindow : public QObject {
public:
    using TWndProc = std::function<void(TMessage&)>;
    explicit THiddenWindow(TWndProc proc) : FProc(std::move(proc)) {}

    // Starts (or restarts) timer id; its ticks arrive as WM_TIMER with WParam id. False when
    // the system has no timer left.
    bool SetTimer(unsigned id, unsigned intervalMs);
    void KillTimer(unsigned id);

protected:
    bool event(QEvent* e) override;

private:
    void Dispatch(TMessage& message);

    TWndProc FProc;
    struct TTimerSlot {
        unsigned Id;
        int QtId;
    };
    std::vector<TTimerSlot> FTimers;
};

// Where exceptions that leave a window procedure go (they must not cross the event loop).
// The application installs its handler; without one the text goes to standard error.
using TExceptionHandler = std::function<void(const std::exception&)>;
void SetApplicationExceptionHandler(TExceptionHandler handler);
void HandleApplicationException(const std::exception& e);
