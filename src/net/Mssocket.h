// Client sockets: one TCP connection, commands sent as CR LF lines, answers read as single
// lines or as blocks ending in a "." line. In the default non-blocking mode every wait runs
// the application's events, so the user interface stays live, and Cancel ends it with
// EmsCanceledError. Two clocks end it with EmsTimedOutError: a countdown of TimeOut seconds
// that only kMinProgressBytes received restart, and each answer's deadline, which nothing
// restarts: TimeOut plus one second per kAnswerRateBytes of the answer's expected size (its
// limit when the size is not known), at most kMaxAnswerExtraSeconds more (see
// AnswerDeadline). Both count the ticks of the socket's TimeCounter.
#pragma once

#include "base/Exceptions.h"
#include "base/StringList.h"
#include "net/Mswsock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QObject;
class TStream;
class THiddenWindow;
class TmsTimeCounter;
class TmsTlsSession;
struct TMessage;

class EmsTimedOutError : public Exception {
public:
    EmsTimedOutError();
};

class EmsCanceledError : public Exception {
public:
    EmsCanceledError();
};

// A status line the server answered with other than success; the message is that line.
PV_DECLARE_EXCEPTION(EmsServerError, Exception);
// The server closed the connection in the middle of an answer.
PV_DECLARE_EXCEPTION(EmsConnectionClosedError, Exception);
// An answer beyond its limit (a status line, a header block, a message): the connection has
// been closed and nothing of the answer is used.
PV_DECLARE_EXCEPTION(EmsAnswerTooLongError, EmsServerError);

// How a client socket protects its connection: not at all, TLS from the start, or TLS after
// the protocol's own start command (the POP3 client's STLS).
enum TmsSecurity { secNone, secTls, secStartTls };

// A status line may hold this many bytes before its line end.
inline constexpr int64_t kMaxAnswerLine = 64 * 1024;
// An unfinished answer must bring this many bytes within every TimeOut seconds.
inline constexpr int64_t kMinProgressBytes = 1024;
// A whole answer must come at this many bytes per second on average (after TimeOut seconds
// of grace), and no answer gets more than kMaxAnswerExtraSeconds beyond TimeOut.
inline constexpr int64_t kAnswerRateBytes = 1024;
inline constexpr int64_t kMaxAnswerExtraSeconds = 3600;
// ReadBlock without a limit.
inline constexpr int64_t kNoBlockLimit = -1;

// The deadline in seconds of an answer of expectedBytes (the most it may hold when its size is
// not known): timeOut + expectedBytes / kAnswerRateBytes (rounded up), the added seconds at
// most kMaxAnswerExtraSeconds. Computed in 64 bits for any time-out and size.
int64_t AnswerDeadline(int timeOut, int64_t expectedBytes);

// The socket notification message.
inline constexpr unsigned WM_SOCKETNOTIFY = 2146;

class TmsSocketBase;
using TmsNotifyEvent = std::function<void(TmsSocketBase* Sender)>;
// Perc: percent of the expected size or -1; ByteCount: bytes received so far; LineCount:
// bytes of the last receive.
using TmsProgressEvent =
    std::function<void(TmsSocketBase* Sender, int Perc, int64_t ByteCount, int LineCount)>;

class TmsSocketBase {
public:
    TmsSocketBase();
    virtual ~TmsSocketBase();
    TmsSocketBase(const TmsSocketBase&) = delete;
    TmsSocketBase& operator=(const TmsSocketBase&) = delete;

    std::string Version() const { return "2.02"; }
    void SetVersion(std::string_view) {}

    QObject* WindowHandle() const;
    // None in blocking mode.
    TmsTimeCounter* TimeCounter() const { return FTimeCounter.get(); }
    bool Blocking() const { return FBlocking; }
    // Takes effect at the next Connect.
    void SetBlocking(bool value) { FBlocking = value; }
    TSocket SocketHandle() const { return FSocketHandle; }
    int LastResult() const { return FLastResult; }
    uint16_t LastError() const { return FLastError; }

    // The binding every call goes through: GlobalWinsock unless one is set here.
    TmsWinsock& Winsock() const;
    void SetWinsock(TmsWinsock* winsock) { FWinsock = winsock; }

protected:
    virtual void WndProc(TMessage&) {}

    int FTimeOut = 60;
    std::unique_ptr<TmsTimeCounter> FTimeCounter;
    bool FBlocking = false;
    TSocket FSocketHandle = INVALID_SOCKET;
    int FLastResult = 0;
    uint16_t FLastError = 0;

private:
    std::unique_ptr<THiddenWindow> FWindowHandle;
    TmsWinsock* FWinsock = nullptr;
};

class TmsSocket : public TmsSocketBase {
public:
    TmsSocket();
    ~TmsSocket() override;

    int TimeOut() const { return FTimeOut; }
    void SetTimeOut(int value);
    TmsNotifyEvent OnConnected;
    TmsNotifyEvent OnDisconnected;
    TmsProgressEvent OnTransferProgress;
    // When not empty, every line sent or received is added to ProtocolLog.
    const std::string& LogFileName() const { return FLogFileName; }
    void SetLogFileName(std::string_view value) { FLogFileName = value; }
    TStringList& ProtocolLog() { return FProtocolLog; }
    bool Canceled() const { return FCanceled; }
    bool ConnectSignalled() const { return FConnectSignalled; }
    bool CloseSignalled() const { return FCloseSignalled; }

    bool IsConnected() const { return FSocketHandle != INVALID_SOCKET; }
    bool TimedOut() const;
    // Clears the flags of the previous connection and restarts the countdown.
    virtual void ResetState();

    void SendBuffer(const char* buffer, int64_t length);
    // Sends text + CR LF; a line containing "PASS" is logged as "PASS *Hidden*".
    void SendLine(std::string_view text);
    // One line without its line end (and without its first CR). A line longer than 2047
    // bytes comes back cut to those; the rest of it up to the LF is read and dropped. A line
    // of more than kMaxAnswerLine bytes closes the connection with EmsAnswerTooLongError; a
    // TLS connection that ends inside a line raises EmsConnectionClosedError. Inside an
    // answer of several lines (ReadMultiLineResponse) all its lines together are held to
    // kMaxAnswerLine and to one deadline.
    void ReadLine(std::string& text);
    // The raw answer up to and including its "." line, written to stream from position 0.
    // Raises EmsConnectionClosedError when the connection ends before that line, and closes
    // the connection with EmsAnswerTooLongError when the answer passes limit bytes. Only the
    // first keep bytes (all when keep is kNoBlockLimit) go to stream: the rest is read and
    // dropped, and the result is false then (true: stream holds the whole answer). The
    // deadline is reckoned from expectedSize when it is above 0, else from limit.
    bool ReadBlock(TStream& stream, int64_t expectedSize, int64_t limit = kNoBlockLimit,
                   int64_t keep = kNoBlockLimit);
    // Drops whatever was received and not read yet.
    void DiscardInput();
    // TLS on the open connection: the handshake, then the check of the server's certificate
    // against host (or against the pinned fingerprint). Raises EmsTlsError,
    // EmsCertificateError (the connection is closed then), time-out and cancel as any wait.
    void StartTls(const std::string& host, const std::string& pinnedFingerprint);
    bool Encrypted() const { return FTls != nullptr; }
    // "TLS 1.3, certificate verified for pop.example.org" or "no encryption".
    std::string SecurityDescription() const;
    // Whose certificate the server showed (see TmsTlsSession::PeerCertificateText); "" on a
    // connection without TLS.
    std::string PeerCertificateText() const;
    void Disconnect();
    // Ends the current wait (it then raises EmsCanceledError) and closes the socket.
    void Cancel();

protected:
    void WndProc(TMessage& message) override;
    void SetBlockingMode(bool blocking);
    void EnableNotifications();
    void StartCounter();
    void StopCounter();
    void RestartCounter();
    // The failure rule after a call returned an error: true when the call would have
    // blocked; raises the socket error unless a cancel or time-out is already pending.
    bool CallWouldBlock();
    // Runs the application's events between two calls; waits for the next one when the
    // last call would have blocked. Nothing happens in blocking mode.
    void PassMessages(bool wouldBlock);
    // Stops the countdown and raises what ended the wait: the time-out, then a cancel.
    void EndWait();
    void AddToLog(std::string_view line);
    // Logs a line sent (without its line end); a line containing "PASS" as "PASS *Hidden*".
    void LogSent(std::string_view line);
    // Closes the socket without an event (a connect that failed, an owner going away).
    void CloseQuietly() noexcept;
    // Closes the connection, then raises what is wrong with the answer.
    [[noreturn]] void DropAnswer(const std::string& reason);
    // One receive into the input buffer (through TLS when it is on): bytes added, 0 at the
    // end of the connection, SOCKET_ERROR with the binding's last error set.
    int ReceiveSome();
    // Sends the bytes as they are, over the wire.
    void SendRaw(const char* buffer, int64_t length);
    // One step of the TLS handshake; a failure after a plain-text POP3 answer (firstBytes)
    // says so.
    bool HandshakeDone(const std::string& firstBytes);
    // Sends what the TLS session has queued; true when there was something. The send stops
    // the countdown at its end.
    bool FlushTls();
    // Counts bytes of an unfinished answer; the countdown restarts only once enough arrived.
    void CountProgress(int64_t bytes);
    void StartAnswer();
    // Ends the session and forgets the received bytes (a connection that is closed).
    void ForgetConnection() noexcept;

    // Holds one answer while it is read: the outermost scope sets the answer's deadline for
    // expectedBytes and clears it at its end; reads inside it share the deadline and the
    // byte count of AnswerBytes.
    class TAnswerScope {
    public:
        TAnswerScope(TmsSocket& socket, int64_t expectedBytes);
        ~TAnswerScope();
        TAnswerScope(const TAnswerScope&) = delete;
        TAnswerScope& operator=(const TAnswerScope&) = delete;

    private:
        TmsSocket& FSocket;
    };

    bool FCanceled = false;
    bool FConnectSignalled = false;
    bool FCloseSignalled = false;

private:
    std::string FLogFileName;
    TStringList FProtocolLog;
    std::unique_ptr<TmsTlsSession> FTls;
    // Received and not yet read: FInput[FInputHead, FInputTail).
    std::unique_ptr<char[]> FInput;
    int FInputHead = 0;
    int FInputTail = 0;
    std::unique_ptr<char[]> FWire; // what came over the wire before decryption
    std::string FOutgoing;
    int64_t FProgress = 0;
    // Open answer scopes, and the bytes of the lines read in the outermost one.
    int FAnswerDepth = 0;
    int64_t FAnswerBytes = 0;
};

class TmsClientSocket : public TmsSocket {
public:
    TmsClientSocket();

    const std::string& Host() const { return FHost; }
    // "name:port" sets both; a plain name (or a port that is not a number from 0 to 65535)
    // puts DefaultPort into Port when it is above 0. An IPv6 address is written in brackets
    // when a port follows ("[2001:db8::1]:995"); without a port the brackets are optional.
    void SetHost(std::string_view value);
    TmsSecurity Security() const { return FSecurity; }
    void SetSecurity(TmsSecurity value) { FSecurity = value; }
    // The certificate the user trusts for this server ("sha256:..."), or empty.
    const std::string& CertFingerprint() const { return FCertFingerprint; }
    void SetCertFingerprint(std::string_view value) { FCertFingerprint = value; }
    int Port() const { return FPort; }
    void SetPort(int value) { FPort = value; }
    int DefaultPort() const { return FDefaultPort; }
    TmsNotifyEvent OnConnecting;
    std::string LastResponse;

    virtual int GetResponseCode(const std::string&) { return 1; }
    // Opens the connection to Host:Port. A failure closes the socket again.
    virtual void Connect();
    int ReadResponse(std::string& text);
    // A status line, or a reply of "code-" lines ending with a "code " line: one answer, its
    // lines held to kMaxAnswerLine bytes together and to one deadline.
    int ReadMultiLineResponse();

protected:
    int FDefaultPort = 0;

private:
    void OpenAndConnect();
    // One attempt on one address; false (socket closed, code set) when it failed.
    bool TryAddress(const TSocketAddress& address, int& code);

    std::string FHost;
    int FPort = 0;
    TmsSecurity FSecurity = secNone;
    std::string FCertFingerprint;
};
