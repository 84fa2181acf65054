#include "net/HiddenWindow.h"

#include "base/Exceptions.h"

#include <QCoreApplication>
#include <QTimerEvent>

#include <cstdio>

namespace {
TExceptionHandler& ExceptionHandler() {
    static TExceptionHandler handler;
    return handler;
}
} // namespace

bool PostWindowMessage(QObject* window, unsigned msg, uintptr_t wParam, intptr_t lParam) {
    if (!window || msg < unsigned(QEvent::User) || msg > unsigned(QEvent::MaxUser)) return false;
    QCoreApplication::postEvent(window, new TWindowMessageEvent(msg, wParam, lParam));
    return true;
}

bool THiddenWindow::SetTimer(unsigned id, unsigned intervalMs) {
    KillTimer(id);
    int qtId = startTimer(int(intervalMs));
    if (qtId == 0) return false;
    FTimers.push_back({id, qtId});
    return true;
}

void THiddenWindow::KillTimer(unsigned id) {
    for (auto it = FTimers.begin(); it != FTimers.end(); ++it) {
        if (it->Id == id) {
            killTimer(it->QtId);
            FTimers.erase(it);
            return;
        }
    }
}

bool THiddenWindow::event(QEvent* e) {
    TMessage message;
    if (e->type() == QEvent::Timer) {
        int qtId = static_cast<QTimerEvent*>(e)->timerId();
        for (const TTimerSlot& slot : FTimers) {
            if (slot.QtId == qtId) {
                message.Msg = WM_TIMER;
                message.WParam = slot.Id;
                Dispatch(message);
                return true;
            }
        }
        return QObject::event(e);
    }
    if (e->type() >= QEvent::User && e->type() <= QEvent::MaxUser) {
        if (auto* m = dynamic_cast<TWindowMessageEvent*>(e)) {
            message.Msg = unsigned(e->type());
            message.WParam = m->WParam;
            message.LParam = m->LParam;
            Dispatch(message);
            return true;
        }
    }
    return QObject::event(e);
}

void THiddenWindow::Dispatch(TMessage& message) {
    if (!FProc) return;
    try {
        FProc(message);
    } catch (const std::exception& e) {
        HandleApplicationException(e);
    }
}

void SetApplicationExceptionHandler(TExceptionHandler handler) {
    ExceptionHandler() = std::move(handler);
}

void HandleApplicationException(const std::exception& e) {
    if (ExceptionHandler()) {
        ExceptionHandler()(e);
        return;
    }
    std::fprintf(stderr, "Error: %s\n", e.what());
}
