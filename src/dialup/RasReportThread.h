// The thread on which a provider reports dialling progress. Reports are delivered one at a
// time in the order of their due time (then of posting), each when the clock reaches it;
// the notifier may block, and later reports wait for it.
#pragma once

#include "base/Clock.h"
#include "dialup/RasApi.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

struct TRasReport {
    THRasConn Handle = 0;
    TRasDialFunc1 Notifier = nullptr;
    int32_t State = 0;
    uint32_t Error = 0;
};

class TRasReportThread {
public:
    // beforeDeliver runs on the report thread just before a report goes out; it lets the
    // provider move its connection to the reported state, and returns false to drop the
    // report (the connection is gone).
    using TDeliverHook = std::function<bool(const TRasReport&)>;

    explicit TRasReportThread(TClock& clock, TDeliverHook beforeDeliver = nullptr);
    ~TRasReportThread();
    TRasReportThread(const TRasReportThread&) = delete;
    TRasReportThread& operator=(const TRasReportThread&) = delete;

    // Queues a report for the moment dueMs of the clock (0: at once).
    void Post(const TRasReport& report, int64_t dueMs = 0);
    // Drops the queued reports of one connection.
    void Cancel(THRasConn handle);
    // Reports queued and not yet handed to the notifier.
    int Pending() const;

private:
    void Run();

    TClock& FClock;
    TDeliverHook FBeforeDeliver;
    mutable std::mutex FLock;
    std::condition_variable FWake;
    std::multimap<int64_t, TRasReport> FQueue;
    bool FStop = false;
    std::thread FThread;
};
