// TLS for the client sockets, on OpenSSL. The session never touches the socket: the socket
// hands it what it received and sends what the session has queued, so the handshake, reads
// and writes run in the socket's own non-blocking waits (time-out, Cancel, live window).
#pragma once

#include "net/Mswsock.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// A TLS failure: the handshake, a damaged record, a peer that broke the protocol.
PV_DECLARE_EXCEPTION(EmsTlsError, EWinsockError);

// The server's certificate was refused; no user name or password has been sent.
class EmsCertificateError : public EmsTlsError {
public:
    EmsCertificateError(const std::string& reason, std::string fingerprint);
    std::string Reason;
    // "sha256:" + lower-case hex of the certificate, empty when the server sent none.
    std::string Fingerprint;
};

class TmsTlsSession {
public:
    // A client session for host (server name indication and the name the certificate must
    // carry; an address literal, as the binding tells, is checked against the certificate's
    // addresses). TLS 1.2 or later; the chain is verified against the system's trust store.
    TmsTlsSession(std::string_view host, bool addressLiteral);
    ~TmsTlsSession();
    TmsTlsSession(const TmsTlsSession&) = delete;
    TmsTlsSession& operator=(const TmsTlsSession&) = delete;

    // Bytes that arrived from the server.
    void PutReceived(const char* data, std::size_t length);
    // Bytes to send to the server, cleared by the call.
    bool TakeOutgoing(std::string& data);

    // Advances the handshake; true once it is complete, false while it waits for the server.
    bool Handshake();
    // Plain text into buffer: the count, 0 when the server closed the session in order, -1
    // when more has to arrive first.
    int Read(char* buffer, int capacity);
    // Queues length bytes of plain text (encrypted into the outgoing bytes).
    void Write(const char* data, std::size_t length);
    // Queues the closing alert.
    void Close();

    // After the handshake: the check of the certificate. pinned ("sha256:..." or empty) is
    // the one certificate the user trusts for this account; when set, it is the only one
    // accepted. Raises EmsCertificateError.
    void VerifyPeer(std::string_view pinned);
    // "TLS 1.3, certificate verified for pop.example.org" and the like.
    std::string Description() const;
    // Whose certificate the server showed: "Subject: ...", "Issuer: ...", "Valid from ...
    // until ..." lines (UTF-8), "" before the handshake.
    std::string PeerCertificateText() const;

private:
    [[noreturn]] void Fail(std::string_view what, int result);

    struct TImpl;
    std::unique_ptr<TImpl> F;
};

// "sha256:0a1b..." from a fingerprint typed or stored with colons or capitals.
std::string NormalizeFingerprint(std::string_view text);
