#include "net/AsyncSelect.h"

#include "net/HiddenWindow.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

struct TAsyncSelect::TEntry {
    TSocket Socket = INVALID_SOCKET;
    QPointer<QObject> Window;
    unsigned Msg = 0;
    long Mask = 0;
    std::unique_ptr<QSocketNotifier> Read;
    std::unique_ptr<QSocketNotifier> Write;
    bool Connecting = false;
    bool Connected = false;
    bool Closed = false;
    int Error = 0;
};

TAsyncSelect::TAsyncSelect(TmsWinsock& winsock) : FWinsock(winsock) {}
TAsyncSelect::~TAsyncSelect() = default;

TAsyncSelect::TEntry* TAsyncSelect::Find(TSocket s) {
    auto it = FEntries.find(s);
    return it == FEntries.end() ? nullptr : it->second.get();
}

void TAsyncSelect::Select(TSocket s, QObject* window, unsigned msg, long mask) {
    if (mask == 0) {
        Forget(s);
        return;
    }
    TEntry* entry = Find(s);
    if (!entry) {
        auto created = std::make_unique<TEntry>();
        entry = created.get();
        entry->Socket = s;
        entry->Read = std::make_unique<QSocketNotifier>(s, QSocketNotifier::Read);
        entry->Write = std::make_unique<QSocketNotifier>(s, QSocketNotifier::Write);
        entry->Read->setEnabled(false);
        entry->Write->setEnabled(false);
        QObject::connect(entry->Read.get(), &QSocketNotifier::activated,
                         [this, entry] { ReadReady(*entry); });
        QObject::connect(entry->Write.get(), &QSocketNotifier::activated,
                         [this, entry] { WriteReady(*entry); });
        alignas(8) unsigned char peer[sizeof(TSocketAddress::Address)];
        int length = sizeof peer;
        entry->Connected = FWinsock.getpeername(s, reinterpret_cast<sockaddr*>(peer), &length) == 0;
        FEntries.emplace(s, std::move(created));
    }
    entry->Window = window;
    entry->Msg = msg;
    entry->Mask = mask;
    ArmRead(*entry);
}

void TAsyncSelect::Forget(TSocket s) {
    auto it = FEntries.find(s);
    if (it == FEntries.end()) return;
    if (QObject* window = it->second->Window) {
        QCoreApplication::removePostedEvents(window, int(it->second->Msg));
    }
    FEntries.erase(it);
}

void TAsyncSelect::ConnectStarted(TSocket s) {
    if (TEntry* entry = Find(s)) {
        entry->Connecting = true;
        entry->Write->setEnabled(true);
    }
}

void TAsyncSelect::ConnectDone(TSocket s) {
    if (TEntry* entry = Find(s)) {
        entry->Connected = true;
        Post(*entry, FD_CONNECT, 0);
        ArmRead(*entry);
    }
}

void TAsyncSelect::Received(TSocket s) {
    if (TEntry* entry = Find(s)) ArmRead(*entry);
}

void TAsyncSelect::SendBlocked(TSocket s) {
    if (TEntry* entry = Find(s)) entry->Write->setEnabled(true);
}

int TAsyncSelect::TakeError(TSocket s) {
    TEntry* entry = Find(s);
    if (!entry) return 0;
    int error = entry->Error;
    entry->Error = 0;
    return error;
}

void TAsyncSelect::ArmRead(TEntry& entry) {
    if (entry.Connected && !entry.Closed && (entry.Mask & (FD_READ | FD_OOB | FD_CLOSE)) &&
        !entry.Read->isEnabled()) {
        entry.Read->setEnabled(true);
    }
}

void TAsyncSelect::ReadReady(TEntry& entry) {
    entry.Read->setEnabled(false);
    int error = 0;
    int pending = FWinsock.PeekPending(entry.Socket, error);
    if (pending > 0) {
        Post(entry, FD_READ, 0);
    } else if (pending == 0) {
        entry.Closed = true;
        Post(entry, FD_CLOSE, 0);
    } else if (error == WSAEWOULDBLOCK || error == WSAEINTR) {
        entry.Read->setEnabled(true);
    } else {
        entry.Closed = true;
        entry.Error = error;
        Post(entry, FD_CLOSE, entry.Error);
    }
}

void TAsyncSelect::WriteReady(TEntry& entry) {
    entry.Write->setEnabled(false);
    if (!entry.Connecting) {
        Post(entry, FD_WRITE, 0);
        return;
    }
    entry.Connecting = false;
    int error = 0;
    int length = sizeof error;
    // Like the notifications themselves, asking leaves the thread's last error alone.
    const int kept = FWinsock.WSAGetLastError();
    if (FWinsock.getsockopt(entry.Socket, WSA_SOL_SOCKET, WSA_SO_ERROR,
                            reinterpret_cast<char*>(&error), &length) != 0) {
        error = FWinsock.WSAGetLastError();
    }
    FWinsock.WSASetLastError(kept);
    Post(entry, FD_CONNECT, error);
    if (error == 0) {
        entry.Connected = true;
        Post(entry, FD_WRITE, 0);
        ArmRead(entry);
    }
}

void TAsyncSelect::Post(TEntry& entry, long event, int error) {
    if (!(entry.Mask & event)) return;
    intptr_t lParam = intptr_t((uint32_t(error & 0xFFFF) << 16) | uint32_t(event & 0xFFFF));
    PostWindowMessage(entry.Window, entry.Msg, uintptr_t(entry.Socket), lParam);
}
