#include "dialup/RasReportThread.h"

TRasReportThread::TRasReportThread(TClock& clock, TDeliverHook beforeDeliver)
    : FClock(clock), FBeforeDeliver(std::move(beforeDeliver)), FThread([this] { Run(); }) {}

TRasReportThread::~TRasReportThread() {
    {
        std::lock_guard lock(FLock);
        FStop = true;
    }
    FWake.notify_all();
    FThread.join();
}

void TRasReportThread::Post(const TRasReport& report, int64_t dueMs) {
    {
        std::lock_guard lock(FLock);
        FQueue.emplace(dueMs, report);
    }
    FWake.notify_all();
}

void TRasReportThread::Cancel(THRasConn handle) {
    std::lock_guard lock(FLock);
    std::erase_if(FQueue, [handle](const auto& item) { return item.second.Handle == handle; });
}

int TRasReportThread::Pending() const {
    std::lock_guard lock(FLock);
    return int(FQueue.size());
}

void TRasReportThread::Run() {
    std::unique_lock lock(FLock);
    while (!FStop) {
        if (FQueue.empty()) {
            FWake.wait(lock);
            continue;
        }
        auto head = FQueue.begin();
        if (head->first > FClock.NowMs()) {
            FClock.WaitUntil(FWake, lock, head->first);
            continue;
        }
        TRasReport report = head->second;
        FQueue.erase(head);
        lock.unlock();
        if ((!FBeforeDeliver || FBeforeDeliver(report)) && report.Notifier)
            report.Notifier(report.Handle, WM_RASDIALEVENT, report.State, report.Error, 0);
        lock.lock();
    }
}
