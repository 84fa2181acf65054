// A scripted POP3 server on 127.0.0.1 for protocol tests. A test writes the conversation as
// steps: what the server says, the exact line it expects from the client next, pauses the
// test lifts from inside the client's events, and dropped or silent connections. The steps
// run in order across connections; every byte the client sends is recorded.
//
// By default the server runs in the caller's thread and is served by the waits of the
// client under test (non-blocking sockets run the event loop). A client in blocking mode
// runs no events, so for it the server runs in a thread of its own (RunInThread).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pvtest {

class TFakePop3Server {
public:
    enum TStart { InCallerThread, RunInThread };
    explicit TFakePop3Server(TStart start = InCallerThread);
    ~TFakePop3Server();
    TFakePop3Server(const TFakePop3Server&) = delete;
    TFakePop3Server& operator=(const TFakePop3Server&) = delete;

    uint16_t Port() const;
    // "127.0.0.1:port", ready for TmsClientSocket::SetHost.
    std::string HostAndPort() const;

    // Sends line + CR LF.
    TFakePop3Server& Say(const std::string& line);
    // Sends bytes exactly as given.
    TFakePop3Server& SayRaw(const std::string& bytes);
    // Sends bytes again and again, as fast as the client takes them, until it hangs up.
    TFakePop3Server& SayForever(const std::string& bytes);
    // Sends bytes the given number of times, as fast as the client takes them: a large
    // answer that the server never holds whole.
    TFakePop3Server& SayRepeated(const std::string& bytes, int64_t times);
    // Waits for the client's next line and compares it, CR LF included, with line + CR LF. A
    // different line is recorded as a failure and the connection is reset.
    TFakePop3Server& Expect(const std::string& line);
    // Waits until Resume is called.
    TFakePop3Server& Pause();
    TFakePop3Server& Delay(int milliseconds);
    // Ends the connection in an orderly way after what was said; later steps belong to the
    // next connection.
    TFakePop3Server& Close();
    // Resets the connection (the client sees a reset, not an orderly end).
    TFakePop3Server& Abort();
    // The following steps belong to the next connection: when the client closed this one
    // itself, the server may not have noticed yet.
    TFakePop3Server& NextConnection();

    // The server's side of a log-in after the greeting, ending in the STAT answer: the first
    // CAPA refused when capabilities is empty (then USER, PASS, CAPA again, refused, and
    // STAT), else answered with capabilities (lines ending in CR LF) before USER and again
    // after PASS. With PIPELINING among them USER and PASS, then CAPA and STAT, are answered
    // only once both commands of their write are there.
    TFakePop3Server& ServeLogin(const std::string& user, const std::string& password,
                                const std::string& capabilities, const std::string& statAnswer);

    // The server's side of a log-in without CAPA that refuses the password: the first CAPA
    // refused, USER taken, PASS answered with "-ERR [AUTH] Authentication failed.".
    TFakePop3Server& RefuseLogin(const std::string& user, const std::string& password);

    // A server without encryption as the security search meets it: a greeting in clear text
    // where TLS was expected, then on the next connection a CAPA without STLS and a goodbye.
    TFakePop3Server& OfferNoSecurity();

    // From now on the server behaves like one that writes each answer on its own with Nagle's
    // algorithm on, against a client that delays its acknowledgements: an answer (the Say
    // steps between two Expect steps) written while the one before it is unacknowledged is
    // held until the client sends more bytes (which carry the acknowledgement), or until
    // milliseconds pass (the client's delayed ACK), which counts as a stall.
    void HoldAnswersUntilAcknowledged(int milliseconds);
    // Answers that waited out the hold.
    int Stalls() const;

    void Resume();
    // Every byte received so far, over all connections.
    std::string Received() const;
    // "" when every step ran and matched; otherwise what went wrong.
    std::string Failure() const;
    int Connections() const;

    class TCore;

private:
    std::unique_ptr<TCore> FCore;
    struct TThread;
    std::unique_ptr<TThread> FThread;
};

} // namespace pvtest
