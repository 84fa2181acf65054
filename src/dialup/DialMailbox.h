// The one-slot mailbox that carries the progress reports of an asynchronous dial from the
// provider's thread to the GUI thread.
//
// The provider's thread calls RasDialProgress (the notifier handed to RasDialA). It finds
// the mailbox of the component that dialled asynchronously last, waits until the slot is
// free, fills it, sets the pending flag and wakes the GUI thread. The GUI thread takes the
// report and frees the slot. So reports arrive one at a time, in order, none lost. The
// pending flag is the only hand-over: the values are written before it is set (release)
// and read after it was seen set (acquire).
#pragma once

#include "dialup/RasApi.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

struct TDialReport {
    THRasConn Handle = 0;
    uint32_t Msg = 0;
    int32_t State = 0;
    uint32_t Error = 0;
};

class TDialMailbox {
public:
    // wake runs on the provider's thread after a report was put in; it must only post.
    explicit TDialMailbox(std::function<void()> wake) : FWake(std::move(wake)) {}

    // Provider's thread: waits until the slot is free, then fills it and wakes the GUI.
    // Returns false (report dropped) once the mailbox is closed.
    bool Put(const TDialReport& report);

    // GUI thread: true and the report when one is pending. The slot stays taken until Free.
    bool Peek(TDialReport& report) const;
    void Free();

    // GUI thread: drops a pending report and every later one; a waiting Put returns at once.
    // After Close returns, wake is never called again.
    void Close();

private:
    std::atomic<bool> FPending{false};
    TDialReport FSlot;
    std::mutex FLock; // orders Put's fill-and-wake against Close
    bool FClosed = false;
    std::function<void()> FWake;
};

// The mailbox of the component that dialled asynchronously last (process-wide).
void SetAsyncDialer(std::shared_ptr<TDialMailbox> mailbox);
// Clears the process-wide mailbox if it is this one (nullptr: whichever it is) and closes it.
void AbandonAsyncDialer(const TDialMailbox* mailbox = nullptr);

// The notifier passed to RasDialA: hands one report to the current mailbox.
void RasDialProgress(THRasConn hrasconn, uint32_t unMsg, int32_t rascs, uint32_t dwError,
                     uint32_t dwExtendedError);
