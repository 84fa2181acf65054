// Event selection for the socket binding: watches a socket with a pair of socket notifiers
// and posts the window message the binding was asked for, one event at a time. A read event
// comes again only after the next receive, a write event only after a send that would have
// blocked, so a socket nobody reads does not keep the event loop busy.
#pragma once

#include "net/Mswsock.h"

#include <memory>
#include <unordered_map>

class QObject;

class TAsyncSelect {
public:
    // The binding that owns the event selection and makes its calls.
    explicit TAsyncSelect(TmsWinsock& winsock);
    ~TAsyncSelect();
    TAsyncSelect(const TAsyncSelect&) = delete;
    TAsyncSelect& operator=(const TAsyncSelect&) = delete;

    // Starts (or changes) the notifications of s; a mask of 0 stops them.
    void Select(TSocket s, QObject* window, unsigned msg, long mask);
    // Stops the notifications of s and drops those still queued (before s is closed).
    void Forget(TSocket s);
    // A connect on s is under way / has succeeded at once.
    void ConnectStarted(TSocket s);
    void ConnectDone(TSocket s);
    // A receive ran on s: the next arriving data is reported again.
    void Received(TSocket s);
    // A send on s would have blocked: report when there is room again.
    void SendBlocked(TSocket s);
    // The error of a broken connection that the close report took from the system (which
    // hands it out only once), or 0; a receive that sees the end reports it instead.
    int TakeError(TSocket s);

private:
    struct TEntry;
    TEntry* Find(TSocket s);
    void ArmRead(TEntry& entry);
    void ReadReady(TEntry& entry);
    void WriteReady(TEntry& entry);
    static void Post(TEntry& entry, long event, int error);

    TmsWinsock& FWinsock;
    std::unordered_map<TSocket, std::unique_ptr<TEntry>> FEntries;
};
