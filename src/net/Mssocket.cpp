#include "net/Mssocket.h"

#include "base/MessagePump.h"
#include "base/StrUtils.h"
#include "base/Streams.h"
#include "net/HiddenWindow.h"
#include "net/msutils.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace {
const char* const kTimedOut = "Operation timed out";
const char* const kCanceled = "Operation has been canceled";
const char* const kPassword = "PASS";
const char* const kPasswordHidden = "PASS *Hidden*";
const char* const kClosedInBlock = "Connection closed by the server before the end of the answer";
const char* const kNotLoaded = "Winsock not loaded";
const char* const kLineEnd = "\r\n";

constexpr long kEventMask = FD_READ | FD_WRITE | FD_OOB | FD_CONNECT | FD_CLOSE;
constexpr std::size_t kLineCapacity = 2047;
constexpr int kBlockBufferSize = 32768;

// Percent of expected, rounded to the nearest integer (halves to the even neighbour); a
// value above 100 reads 0, no expected size -1.
int Percent(int64_t received, int64_t expected) {
    if (expected <= 0) return -1;
    double perc = std::nearbyint(double(received) * 100.0 / double(expected));
    return perc > 100.0 ? 0 : int(perc);
}

// The end of a block: a "." line after a line end, or the block is only the "." line.
class TTerminatorWatch {
public:
    bool Add(const char* data, std::size_t n) {
        FTotal += n;
        if (n >= sizeof FTail) {
            std::memcpy(FTail, data + n - sizeof FTail, sizeof FTail);
        } else {
            std::memmove(FTail, FTail + n, sizeof FTail - n);
            std::memcpy(FTail + sizeof FTail - n, data, n);
        }
        if (FTotal >= 5 && std::memcmp(FTail, "\r\n.\r\n", 5) == 0) return true;
        return FTotal == 3 && std::memcmp(FTail + 2, ".\r\n", 3) == 0;
    }

private:
    char FTail[5] = {};
    uint64_t FTotal = 0;
};
} // namespace

EmsTimedOutError::EmsTimedOutError() : Exception(kTimedOut) {}
EmsCanceledError::EmsCanceledError() : Exception(kCanceled) {}

// ---- TmsSocketBase

TmsSocketBase::TmsSocketBase()
    : FTimeCounter(std::make_unique<TmsTimeCounter>()),
      FWindowHandle(std::make_unique<THiddenWindow>([this](TMessage& m) { WndProc(m); })) {
    FTimeCounter->TimeOut = FTimeOut;
}

TmsSocketBase::~TmsSocketBase() = default;

QObject* TmsSocketBase::WindowHandle() const {
    return FWindowHandle.get();
}

TmsWinsock& TmsSocketBase::Winsock() const {
    TmsWinsock* winsock = FWinsock ? FWinsock : GlobalWinsock;
    if (!winsock) throw EWinsockError(kNotLoaded);
    return *winsock;
}

// ---- TmsSocket

TmsSocket::TmsSocket() = default;

// An owner that forgot to disconnect must not keep the server's session (and its lock on
// the mailbox) open until the program ends. No event: the owner is going away.
TmsSocket::~TmsSocket() {
    CloseQuietly();
}

void TmsSocket::CloseQuietly() noexcept {
    if (FSocketHandle == INVALID_SOCKET) return;
    TSocket handle = FSocketHandle;
    FSocketHandle = INVALID_SOCKET;
    try {
        Winsock().closesocket(handle);
    } catch (const std::exception&) {
    }
}

void TmsSocket::SetTimeOut(int value) {
    FTimeOut = value;
    if (FTimeCounter) FTimeCounter->TimeOut = value;
}

bool TmsSocket::TimedOut() const {
    return FTimeCounter && FTimeCounter->TimedOut;
}

void TmsSocket::ResetState() {
    FConnectSignalled = false;
    FCloseSignalled = false;
    FCanceled = false;
    FLastError = 0;
    // A blocking socket loses its counter at connect and needs no timer meanwhile.
    if (!FBlocking) RestartCounter();
}

void TmsSocket::StartCounter() {
    if (FTimeCounter) FTimeCounter->Start();
}
void TmsSocket::StopCounter() {
    if (FTimeCounter) FTimeCounter->Stop();
}
void TmsSocket::RestartCounter() {
    if (FTimeCounter) FTimeCounter->Restart();
}

void TmsSocket::SetBlockingMode(bool blocking) {
    TmsWinsock& winsock = Winsock();
    uint32_t argument = blocking ? 0 : 1;
    if (blocking) {
        if (winsock.WSAAsyncSelect(FSocketHandle, WindowHandle(), WM_SOCKETNOTIFY, 0) != 0 ||
            winsock.ioctlsocket(FSocketHandle, WSA_FIONBIO, &argument) != 0) {
            winsock.RaiseError(winsock.WSAGetLastError());
        }
        FTimeCounter.reset();
        return;
    }
    if (winsock.ioctlsocket(FSocketHandle, WSA_FIONBIO, &argument) != 0) {
        winsock.RaiseError(winsock.WSAGetLastError());
    }
    if (!FTimeCounter) {
        FTimeCounter = std::make_unique<TmsTimeCounter>();
        FTimeCounter->TimeOut = FTimeOut;
    }
}

void TmsSocket::EnableNotifications() {
    if (FBlocking) return;
    TmsWinsock& winsock = Winsock();
    if (winsock.WSAAsyncSelect(FSocketHandle, WindowHandle(), WM_SOCKETNOTIFY, kEventMask) != 0) {
        winsock.RaiseError(winsock.WSAGetLastError());
    }
}

void TmsSocket::WndProc(TMessage& message) {
    if (message.Msg != WM_SOCKETNOTIFY) return;
    message.Result = 0;
    // A notification for a socket closed since it was queued is of no interest.
    if (TSocket(message.WParam) != FSocketHandle) return;
    FLastError = uint16_t(TmsWinsock::WSAGetSelectError(message.LParam));
    if (FLastError != 0) return;
    switch (TmsWinsock::WSAGetSelectEvent(message.LParam)) {
    case FD_CONNECT:
        FConnectSignalled = true;
        if (OnConnected) OnConnected(this);
        break;
    case FD_CLOSE:
        FCloseSignalled = true;
        if (OnDisconnected) OnDisconnected(this);
        break;
    default:
        break;
    }
}

bool TmsSocket::CallWouldBlock() {
    TmsWinsock& winsock = Winsock();
    int code = winsock.WSAGetLastError();
    if (FBlocking) winsock.RaiseError(code);
    if (code == WSAEWOULDBLOCK) return true;
    if (FCanceled || TimedOut()) return false;
    winsock.RaiseError(code);
}

void TmsSocket::PassMessages(bool wouldBlock) {
    if (FBlocking) return;
    // Sleeping makes no sense when the loop is about to end anyway.
    if (wouldBlock && !FCanceled && !TimedOut()) {
        WaitForMessages();
    } else {
        ProcessMessages();
    }
}

void TmsSocket::EndWait() {
    StopCounter();
    if (TimedOut()) throw EmsTimedOutError();
    if (FCanceled) throw EmsCanceledError();
}

void TmsSocket::AddToLog(std::string_view line) {
    if (!FLogFileName.empty()) FProtocolLog.Add(std::string(line));
}

void TmsSocket::SendBuffer(const char* buffer, int64_t length) {
    TmsWinsock& winsock = Winsock();
    StartCounter();
    int64_t sent = 0;
    bool done = false;
    do {
        int64_t chunk = std::min<int64_t>(length - sent, 1 << 30);
        FLastResult = winsock.send(FSocketHandle, buffer + sent, int(chunk), 0);
        bool wouldBlock = false;
        if (FLastResult != SOCKET_ERROR) {
            sent += FLastResult;
            done = sent == length;
            RestartCounter();
        } else {
            wouldBlock = CallWouldBlock();
        }
        PassMessages(wouldBlock);
    } while (!done && !TimedOut() && !FCanceled);
    EndWait();
}

void TmsSocket::SendLine(std::string_view text) {
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text).append(kLineEnd);
    SendBuffer(line.data(), int64_t(line.size()));
    AddToLog(text.find(kPassword) != std::string_view::npos ? std::string_view(kPasswordHidden)
                                                            : text);
}

void TmsSocket::ReadLine(std::string& text) {
    TmsWinsock& winsock = Winsock();
    std::string line;
    line.reserve(128);
    StartCounter();
    bool done = false;
    do {
        char byte;
        FLastResult = winsock.recv(FSocketHandle, &byte, 1, 0);
        if (FCanceled) throw EmsCanceledError();
        bool wouldBlock = false;
        if (FLastResult >= 0) {
            if (FLastResult == 0) FCloseSignalled = true;
            RestartCounter();
            if (FLastResult > 0) {
                if (line.size() < kLineCapacity) line.push_back(byte);
                done = byte == '\n';
            } else {
                done = true;
            }
        } else {
            wouldBlock = CallWouldBlock();
        }
        PassMessages(wouldBlock);
    } while (!done && !TimedOut() && !FCanceled);
    EndWait();

    std::size_t lf = line.find('\n');
    if (lf != std::string::npos) line.resize(lf);
    std::size_t cr = line.find('\r');
    if (cr != std::string::npos) line.erase(cr, 1);
    text = std::move(line);
    AddToLog(text);
}

void TmsSocket::ReadBlock(TStream& stream, int64_t expectedSize) {
    TmsWinsock& winsock = Winsock();
    auto buffer = std::make_unique<char[]>(kBlockBufferSize);
    stream.SetPosition(0);
    stream.SetSize(0);
    TTerminatorWatch watch;
    bool terminated = false;
    int64_t received = 0;
    StartCounter();
    do {
        FLastResult = winsock.recv(FSocketHandle, buffer.get(), kBlockBufferSize, 0);
        if (FCanceled) throw EmsCanceledError();
        bool wouldBlock = false;
        if (FLastResult > 0) {
            stream.WriteBuffer(buffer.get(), FLastResult);
            received += FLastResult;
            terminated = watch.Add(buffer.get(), std::size_t(FLastResult));
            if (OnTransferProgress) {
                OnTransferProgress(this, Percent(received, expectedSize), received, FLastResult);
            }
            RestartCounter();
        } else if (FLastResult == 0) {
            FCloseSignalled = true;
        } else {
            wouldBlock = CallWouldBlock();
        }
        PassMessages(wouldBlock);
    } while (!terminated && !FCanceled && !TimedOut() && !(FCloseSignalled && FLastResult == 0));
    if (FCanceled) throw EmsCanceledError();
    EndWait();
    if (!terminated) throw EmsConnectionClosedError(kClosedInBlock);
}

void TmsSocket::Disconnect() {
    if (FSocketHandle == INVALID_SOCKET) return;
    TSocket handle = FSocketHandle;
    // Forgotten before the event runs, so neither a throwing handler nor a second call can
    // close the number again once the system has handed it to another file.
    FSocketHandle = INVALID_SOCKET;
    FLastResult = Winsock().closesocket(handle);
    if (OnDisconnected) OnDisconnected(this);
}

void TmsSocket::Cancel() {
    if (FBlocking) {
        if (FSocketHandle != INVALID_SOCKET) Winsock().WSACancelBlockingCall();
    } else {
        StopCounter();
    }
    FCanceled = true;
    Disconnect();
}

// ---- TmsClientSocket

TmsClientSocket::TmsClientSocket() = default;

void TmsClientSocket::SetHost(std::string_view value) {
    std::string host = ShortText(value);
    std::size_t colon = host.find(':');
    if (colon == std::string::npos) {
        FHost = host;
        if (FDefaultPort > 0) FPort = FDefaultPort;
        return;
    }
    FHost = host.substr(0, colon);
    int64_t port = 0;
    bool valid = TryStrToInt64(std::string_view(host).substr(colon + 1), port) && port >= 0 &&
                 port <= 0xFFFF;
    FPort = valid ? int(port) : FDefaultPort;
}

void TmsClientSocket::Connect() {
    ResetState();
    if (OnConnecting) OnConnecting(this);
    try {
        OpenAndConnect();
    } catch (...) {
        // A socket that never got connected is of no further use: close it, so the owner
        // does not take it for an open connection.
        CloseQuietly();
        throw;
    }
    if (OnConnected) OnConnected(this);
}

void TmsClientSocket::OpenAndConnect() {
    TmsWinsock& winsock = Winsock();
    FSocketHandle = winsock.socket(AF_INET, SOCK_STREAM, 0);
    if (FSocketHandle == INVALID_SOCKET) winsock.RaiseError(winsock.WSAGetLastError());

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = winsock.htons(uint16_t(FPort));
    address.sin_addr.s_addr = winsock.ParseAddress(winsock.ResolveHost(FHost));

    SetBlockingMode(FBlocking);
    EnableNotifications();

    FLastResult = winsock.connect(FSocketHandle, reinterpret_cast<const sockaddr*>(&address),
                                  int(sizeof address));
    if (FLastResult == SOCKET_ERROR) {
        int code = winsock.WSAGetLastError();
        if (FBlocking || code != WSAEWOULDBLOCK) winsock.RaiseError(code);
    }
    if (FBlocking) return;

    StartCounter();
    while (!FConnectSignalled && FLastError == 0 && !TimedOut() && !FCanceled) {
        WaitForMessages();
    }
    StopCounter();
    if (FLastError != 0) winsock.RaiseError(FLastError);
    EndWait();
}

int TmsClientSocket::ReadResponse(std::string& text) {
    std::string line;
    ReadLine(line);
    text = std::move(line);
    return GetResponseCode(text);
}

int TmsClientSocket::ReadMultiLineResponse() {
    int code = ReadResponse(LastResponse);
    if (code <= 0 || LastResponse.find('-') != 3) return code;
    for (;;) {
        int next = ReadResponse(LastResponse);
        if (next == code && LastResponse.find(' ') == 3) break;
        // Also in blocking mode: a closed connection would give empty lines for ever.
        if (FCloseSignalled) break;
    }
    return code;
}
