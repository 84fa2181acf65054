#include "dialup/DialMailbox.h"

namespace {
std::mutex gDialerLock;
std::shared_ptr<TDialMailbox> gDialer;

std::shared_ptr<TDialMailbox> CurrentDialer() {
    std::lock_guard lock(gDialerLock);
    return gDialer;
}
} // namespace

bool TDialMailbox::Put(const TDialReport& report) {
    std::unique_lock lock(FLock);
    while (!FClosed && FPending.load(std::memory_order_acquire)) {
        lock.unlock();
        FPending.wait(true, std::memory_order_acquire);
        lock.lock();
    }
    if (FClosed) return false;
    FSlot = report;
    FPending.store(true, std::memory_order_release);
    if (FWake) FWake();
    return true;
}

bool TDialMailbox::Peek(TDialReport& report) const {
    if (!FPending.load(std::memory_order_acquire)) return false;
    report = FSlot;
    return true;
}

void TDialMailbox::Free() {
    FPending.store(false, std::memory_order_release);
    FPending.notify_all();
}

void TDialMailbox::Close() {
    {
        std::lock_guard lock(FLock);
        FClosed = true;
    }
    Free();
}

void SetAsyncDialer(std::shared_ptr<TDialMailbox> mailbox) {
    std::lock_guard lock(gDialerLock);
    gDialer = std::move(mailbox);
}

void AbandonAsyncDialer(const TDialMailbox* mailbox) {
    std::shared_ptr<TDialMailbox> old;
    {
        std::lock_guard lock(gDialerLock);
        if (!gDialer || (mailbox && gDialer.get() != mailbox)) return;
        old = std::move(gDialer);
    }
    old->Close();
}

void RasDialProgress(THRasConn hrasconn, uint32_t unMsg, int32_t rascs, uint32_t dwError,
                     uint32_t) {
    if (std::shared_ptr<TDialMailbox> mailbox = CurrentDialer())
        mailbox->Put({hrasconn, unMsg, rascs, dwError});
}
