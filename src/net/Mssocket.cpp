#include "net/Mssocket.h"

#include "base/MessagePump.h"
#include "base/StrUtils.h"
#include "base/Streams.h"
#include "net/EventWait.h"
#include "net/HiddenWindow.h"
#include "net/MsTls.h"
#include "net/msutils.h"

#include <algorithm>
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
const char* const kClosedInLine = "Connection closed by the server in the middle of an answer line";
const char* const kClosedInHandshake = "Connection closed by the server during the TLS handshake";
const char* const kLineTooLong = "Answer line too long";
const char* const kAnswerTooLong = "Answer too long";
const char* const kNoEncryption = "no encryption";
const char* const kPlainTextAnswer = "the server answered in plain text; is this the TLS port?";

constexpr long kEventMask = FD_READ | FD_WRITE | FD_OOB | FD_CONNECT | FD_CLOSE;
constexpr std::size_t kLineCapacity = 2047;
constexpr int kBlockBufferSize = 32768;
// Received bytes wait here until a line or block read takes them.
constexpr int kInputBufferSize = kBlockBufferSize;

// Percent of expected, rounded to the nearest integer (halves to the even neighbour); a
// value above 100 reads 0, no expected size -1.
int Percent(int64_t received, int64_t expected) {
    if (expected <= 0) return -1;
    double perc = std::nearbyint(double(received) * 100.0 / double(expected));
    return perc > 100.0 ? 0 : int(perc);
}

// The end of a block: a "." line after a line end, or the block is only the "." line.
// Finds the end of a multi-line answer: "\r\n.\r\n", or ".\r\n" as its very first line.
class TTerminatorWatch {
public:
    // How many bytes of data belong to the answer: up to and including its "." line, or all
    // of them when the answer goes on.
    std::size_t Scan(const char* data, std::size_t n) {
        static constexpr char kEnd[] = "\r\n.\r\n";
        std::size_t i = 0;
        while (i < n) {
            if (FMatched == 0) {
                const void* cr = std::memchr(data + i, '\r', n - i);
                if (!cr) return n;
                i = std::size_t(static_cast<const char*>(cr) - data);
            }
            const char c = data[i++];
            if (c == kEnd[FMatched]) {
                if (++FMatched == 5) {
                    FDone = true;
                    return i;
                }
            } else {
                FMatched = c == '\r' ? 1 : 0;
            }
        }
        return n;
    }
    bool Done() const { return FDone; }

private:
    // The answer starts as if a line had just ended.
    int FMatched = 2;
    bool FDone = false;
};
} // namespace

int64_t AnswerDeadline(int timeOut, int64_t expectedBytes) {
    const int64_t bytes = std::max<int64_t>(expectedBytes, 0);
    const int64_t extra = std::min(bytes / kAnswerRateBytes + (bytes % kAnswerRateBytes != 0),
                                   kMaxAnswerExtraSeconds);
    return int64_t(timeOut) + extra;
}

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

void TmsSocket::ForgetConnection() noexcept {
    FTls.reset();
    FInputHead = FInputTail = 0;
    FOutgoing.clear();
}

void TmsSocket::CloseQuietly() noexcept {
    ForgetConnection();
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
    if (!FTls) {
        SendRaw(buffer, length);
        return;
    }
    FTls->Write(buffer, std::size_t(length));
    FlushTls();
}

bool TmsSocket::FlushTls() {
    if (!FTls || !FTls->TakeOutgoing(FOutgoing)) return false;
    SendRaw(FOutgoing.data(), int64_t(FOutgoing.size()));
    return true;
}

void TmsSocket::SendRaw(const char* buffer, int64_t length) {
    TmsWinsock& winsock = Winsock();
    StartCounter();
    int64_t sent = 0;
    bool done = length == 0;
    while (!done && !TimedOut() && !FCanceled) {
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
    }
    EndWait();
}

void TmsSocket::SendLine(std::string_view text) {
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text).append(kLineEnd);
    SendBuffer(line.data(), int64_t(line.size()));
    LogSent(text);
}

void TmsSocket::LogSent(std::string_view line) {
    AddToLog(line.find(kPassword) != std::string_view::npos ? std::string_view(kPasswordHidden)
                                                            : line);
}

void TmsSocket::StartAnswer() {
    FProgress = 0;
    StartCounter();
}

TmsSocket::TAnswerScope::TAnswerScope(TmsSocket& socket, int64_t expectedBytes) : FSocket(socket) {
    if (FSocket.FAnswerDepth++ > 0) return;
    FSocket.FAnswerBytes = 0;
    if (FSocket.FTimeCounter)
        FSocket.FTimeCounter->SetDeadline(AnswerDeadline(FSocket.FTimeOut, expectedBytes));
}

TmsSocket::TAnswerScope::~TAnswerScope() {
    if (--FSocket.FAnswerDepth > 0) return;
    if (FSocket.FTimeCounter) FSocket.FTimeCounter->SetDeadline(0);
}

void TmsSocket::CountProgress(int64_t bytes) {
    // A server that sends a byte now and then must not keep an answer going for ever: the
    // countdown starts again only for a real amount of data.
    FProgress += bytes;
    if (FProgress >= kMinProgressBytes) {
        FProgress = 0;
        RestartCounter();
    }
}

void TmsSocket::DropAnswer(const std::string& reason) {
    StopCounter();
    CloseQuietly();
    if (OnDisconnected) OnDisconnected(this);
    throw EmsAnswerTooLongError(reason);
}

void TmsSocket::DiscardInput() {
    FInputHead = FInputTail = 0;
}

int TmsSocket::ReceiveSome() {
    TmsWinsock& winsock = Winsock();
    if (!FInput) FInput = std::make_unique<char[]>(kInputBufferSize);
    if (FInputHead == FInputTail) FInputHead = FInputTail = 0;
    char* target = FInput.get() + FInputTail;
    const int room = kInputBufferSize - FInputTail;
    if (!FTls) return winsock.recv(FSocketHandle, target, room, 0);
    if (!FWire) FWire = std::make_unique<char[]>(kBlockBufferSize);
    for (;;) {
        int plain = FTls->Read(target, room);
        if (plain >= 0) return plain;
        // A send has a countdown of its own; the answer's starts again after it.
        if (FlushTls()) StartCounter();
        int wire = winsock.recv(FSocketHandle, FWire.get(), kBlockBufferSize, 0);
        // The end of the connection without the session's closing alert: the caller treats it
        // as any dropped connection (an unfinished answer is an error, never complete).
        if (wire <= 0) return wire;
        FTls->PutReceived(FWire.get(), std::size_t(wire));
    }
}

void TmsSocket::ReadLine(std::string& text) {
    TAnswerScope answer(*this, kMaxAnswerLine);
    std::string line;
    line.reserve(128);
    int64_t length = 0;
    StartAnswer();
    bool done = false;
    for (;;) {
        if (FInputHead < FInputTail) {
            const char* start = FInput.get() + FInputHead;
            const int available = FInputTail - FInputHead;
            const void* lf = std::memchr(start, '\n', std::size_t(available));
            const int take = lf ? int(static_cast<const char*>(lf) - start) + 1 : available;
            const std::size_t keep = std::min(std::size_t(take), kLineCapacity - line.size());
            line.append(start, keep);
            FInputHead += take;
            length += take;
            done = lf != nullptr;
        }
        if (length > kMaxAnswerLine) DropAnswer(kLineTooLong);
        if (FAnswerBytes + length > kMaxAnswerLine) DropAnswer(kAnswerTooLong);
        if (done || TimedOut() || FCanceled) break;
        FLastResult = ReceiveSome();
        if (FCanceled) throw EmsCanceledError();
        bool wouldBlock = false;
        if (FLastResult > 0) {
            FInputTail += FLastResult;
            CountProgress(FLastResult);
        } else if (FLastResult == 0) {
            FCloseSignalled = true;
            // On a protected connection the end must come as the session's closing alert;
            // a cut inside a line is an attack or a failure, and "+O" must never pass for
            // "+OK". (A clear-text connection keeps what came as the line.)
            if (length > 0 && FTls) {
                StopCounter();
                throw EmsConnectionClosedError(kClosedInLine);
            }
            done = true;
        } else {
            wouldBlock = CallWouldBlock();
        }
        if (!done) PassMessages(wouldBlock);
    }
    EndWait();
    FAnswerBytes += length;

    std::size_t lf = line.find('\n');
    if (lf != std::string::npos) line.resize(lf);
    std::size_t cr = line.find('\r');
    if (cr != std::string::npos) line.erase(cr, 1);
    text = std::move(line);
    AddToLog(text);
}

bool TmsSocket::ReadBlock(TStream& stream, int64_t expectedSize, int64_t limit, int64_t keep) {
    stream.SetPosition(0);
    stream.SetSize(0);
    TTerminatorWatch watch;
    bool terminated = false;
    bool closed = false;
    int64_t received = 0;
    int64_t kept = 0;
    int64_t reckoned = expectedSize > 0 ? expectedSize : limit;
    if (limit >= 0 && reckoned > limit) reckoned = limit;
    TAnswerScope answer(*this,
                        reckoned >= 0 ? reckoned : kMaxAnswerExtraSeconds * kAnswerRateBytes);
    StartAnswer();
    for (;;) {
        // Whatever came with the status line is the start of the block.
        if (FInputHead < FInputTail) {
            // What follows the "." line is the next answer (commands sent ahead): it stays.
            const char* data = FInput.get() + FInputHead;
            const int count = int(watch.Scan(data, std::size_t(FInputTail - FInputHead)));
            received += count;
            if (limit >= 0 && received > limit) DropAnswer(kAnswerTooLong);
            const int64_t take = keep < 0 ? count : std::clamp<int64_t>(keep - kept, 0, count);
            stream.WriteBuffer(data, take);
            kept += take;
            terminated = watch.Done();
            FInputHead += count;
            if (OnTransferProgress) {
                OnTransferProgress(this, Percent(received, expectedSize), received, count);
            }
        }
        if (terminated || closed || FCanceled || TimedOut()) break;
        FLastResult = ReceiveSome();
        if (FCanceled) throw EmsCanceledError();
        bool wouldBlock = false;
        if (FLastResult > 0) {
            FInputTail += FLastResult;
            CountProgress(FLastResult);
        } else if (FLastResult == 0) {
            FCloseSignalled = true;
            closed = true;
        } else {
            wouldBlock = CallWouldBlock();
        }
        PassMessages(wouldBlock);
    }
    if (FCanceled) throw EmsCanceledError();
    EndWait();
    if (!terminated) throw EmsConnectionClosedError(kClosedInBlock);
    return kept == received;
}

bool TmsSocket::HandshakeDone(const std::string& firstBytes) {
    try {
        return FTls->Handshake();
    } catch (const EmsTlsError&) {
        // A TLS server answers a hello with a record; a POP3 server greets in plain text.
        if (firstBytes.starts_with("+OK") || firstBytes.starts_with("-ERR"))
            throw EmsTlsError(kPlainTextAnswer);
        throw;
    }
}

void TmsSocket::StartTls(const std::string& host, const std::string& pinnedFingerprint) {
    TmsWinsock& winsock = Winsock();
    // Nothing received before the handshake may be read as protected: a server (or someone
    // in the middle) could have put an answer there.
    DiscardInput();
    FTls = std::make_unique<TmsTlsSession>(host, winsock.IsAddressLiteral(host));
    if (!FWire) FWire = std::make_unique<char[]>(kBlockBufferSize);
    // What the server sends in the handshake (its certificates) is one answer.
    TAnswerScope answer(*this, kMaxAnswerLine);
    StartAnswer();
    // The first bytes the server sent: a POP3 greeting there means a port without TLS.
    std::string first;
    try {
        // Cancel (from the events run below) closes the socket and ends the session; it is
        // checked before the session is touched again.
        while (!HandshakeDone(first)) {
            if (FlushTls()) StartCounter();
            FLastResult = winsock.recv(FSocketHandle, FWire.get(), kBlockBufferSize, 0);
            if (FCanceled) throw EmsCanceledError();
            bool wouldBlock = false;
            if (FLastResult > 0) {
                if (first.size() < 4)
                    first.append(FWire.get(),
                                 std::min<std::size_t>(4 - first.size(), std::size_t(FLastResult)));
                FTls->PutReceived(FWire.get(), std::size_t(FLastResult));
                CountProgress(FLastResult);
            } else if (FLastResult == 0) {
                FCloseSignalled = true;
                throw EmsConnectionClosedError(kClosedInHandshake);
            } else {
                wouldBlock = CallWouldBlock();
            }
            PassMessages(wouldBlock);
            if (FCanceled) throw EmsCanceledError();
            if (TimedOut()) break;
        }
        EndWait();
        FlushTls();
        FTls->VerifyPeer(pinnedFingerprint);
    } catch (...) {
        StopCounter();
        // A session that did not come up (or a server not trusted) is not used for anything:
        // closing it here keeps the user name and password from ever following.
        if (!FCanceled) CloseQuietly();
        throw;
    }
    AddToLog(SecurityDescription());
}

std::string TmsSocket::PeerCertificateText() const {
    return FTls ? FTls->PeerCertificateText() : std::string();
}

std::string TmsSocket::SecurityDescription() const {
    return FTls ? FTls->Description() : kNoEncryption;
}

void TmsSocket::Disconnect() {
    if (FSocketHandle == INVALID_SOCKET) return;
    if (FTls && !FCanceled) {
        // Tells the server the session ends here, so it can tell an end from a cut.
        try {
            FTls->Close();
            TmsWinsock& winsock = Winsock();
            if (FTls->TakeOutgoing(FOutgoing)) {
                winsock.send(FSocketHandle, FOutgoing.data(), int(FOutgoing.size()), 0);
            }
        } catch (const std::exception&) {
        }
    }
    ForgetConnection();
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
    std::size_t colon = std::string::npos;
    if (!host.empty() && host[0] == '[') {
        // "[v6 address]" or "[v6 address]:port".
        std::size_t close = host.find(']');
        if (close != std::string::npos) {
            colon = host.find(':', close);
            if (colon != close + 1) colon = std::string::npos;
            std::string rest = host.substr(close + 1);
            host = host.substr(1, close - 1) + rest;
            if (colon != std::string::npos) colon = close - 1;
        }
    } else if (std::count(host.begin(), host.end(), ':') == 1) {
        colon = host.find(':');
    }
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
        if (FSecurity == secTls) StartTls(FHost, FCertFingerprint);
    } catch (...) {
        // A socket that never got connected is of no further use: close it, so the owner
        // does not take it for an open connection.
        CloseQuietly();
        throw;
    }
    if (OnConnected) OnConnected(this);
}

bool TmsClientSocket::TryAddress(const TSocketAddress& address, int& code) {
    TmsWinsock& winsock = Winsock();
    FConnectSignalled = false;
    FLastError = 0;
    FSocketHandle = winsock.socket(address.Family, WSA_SOCK_STREAM, 0);
    if (FSocketHandle == INVALID_SOCKET) winsock.RaiseError(winsock.WSAGetLastError());
    SetBlockingMode(FBlocking);
    EnableNotifications();
    FLastResult = winsock.connect(FSocketHandle, reinterpret_cast<const sockaddr*>(address.Address),
                                  address.Length);
    if (FLastResult == SOCKET_ERROR) {
        code = winsock.WSAGetLastError();
        if (FBlocking || code != WSAEWOULDBLOCK) {
            CloseQuietly();
            return false;
        }
    }
    if (FBlocking) return true;
    WaitEvents(kNoDeadline, &FCanceled,
               [this] { return FConnectSignalled || FLastError != 0 || TimedOut(); });
    if (FLastError != 0) {
        code = FLastError;
        CloseQuietly();
        return false;
    }
    return FConnectSignalled;
}

void TmsClientSocket::OpenAndConnect() {
    TmsWinsock& winsock = Winsock();
    const std::vector<TSocketAddress> addresses = winsock.ResolveAll(FHost, uint16_t(FPort));
    // One countdown for all addresses; the first that answers wins.
    StartCounter();
    int code = 0;
    for (const TSocketAddress& address : addresses) {
        if (TryAddress(address, code) || TimedOut() || FCanceled) break;
    }
    StopCounter();
    if (!FBlocking) EndWait();
    if (FSocketHandle == INVALID_SOCKET) winsock.RaiseError(code);
}

int TmsClientSocket::ReadResponse(std::string& text) {
    std::string line;
    ReadLine(line);
    text = std::move(line);
    return GetResponseCode(text);
}

int TmsClientSocket::ReadMultiLineResponse() {
    TAnswerScope answer(*this, kMaxAnswerLine);
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
