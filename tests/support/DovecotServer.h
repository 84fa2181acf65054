// A real POP3 server for integration tests: Dovecot with its own temporary configuration,
// users and Maildirs, listening on a free loopback port. Stopped (by its own pid) and
// removed when the object goes.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pvtest {

class TDovecotServer {
public:
    TDovecotServer();
    ~TDovecotServer();
    TDovecotServer(const TDovecotServer&) = delete;
    TDovecotServer& operator=(const TDovecotServer&) = delete;

    // Before Start: TLS with the given certificate and key (in PEM files): STLS on Port(), TLS
    // from the start on TlsPort(); required for any log-in unless optional.
    void EnableTls(const std::string& certificate, const std::string& key, bool optional = false);
    // Before Start: listens on the IPv6 loopback address too.
    void ListenOnIpv6Too() { FIpv6 = true; }
    // Before Start: unique ids made of the message's number in its mailbox alone, so every
    // user's first message has the same id (servers that number alike).
    void NumberIdsAlike() { FIdsAlike = true; }
    // Before Start: OAuth 2.0 sign-in too (SASL XOAUTH2 and OAUTHBEARER), each token checked at
    // the introspection address (RFC 7662: a POST of "token=...", a JSON answer whose
    // "active" is true and whose "username" is the user's).
    // mechanisms: the token mechanisms offered.
    void EnableOAuth(const std::string& introspectionUrl,
                     const std::string& mechanisms = "xoauth2 oauthbearer") {
        FIntrospectionUrl = introspectionUrl;
        FTokenMechanisms = mechanisms;
    }
    // Before Start.
    void AddUser(const std::string& user, const std::string& password);
    // Delivers text (stored as given) to the user's Maildir; messages are listed in the
    // order they were added. Returns the file's base name.
    std::string AddMessage(const std::string& user, const std::string& text);

    // Starts the server; false with a reason (and the server's log) when it did not start.
    bool Start(std::string& error);
    void Stop();

    uint16_t Port() const { return FPort; }
    uint16_t TlsPort() const { return FTlsPort; }
    std::string HostAndPort() const;
    // Contents of every message file in the user's Maildir, in delivery order.
    std::vector<std::string> Messages(const std::string& user) const;
    std::string Log() const;

private:
    std::string MaildirOf(const std::string& user) const;
    void WriteConfiguration() const;
    // The passdb that checks tokens, and its file; "" without OAuth.
    std::string OAuthPassdb() const;
    bool WaitUntilListening() const;

    std::string FFolder;
    uint16_t FPort = 0;
    uint16_t FTlsPort = 0;
    std::string FCertificate;
    std::string FKey;
    bool FTlsOptional = false;
    bool FIpv6 = false;
    bool FIdsAlike = false;
    std::string FIntrospectionUrl;
    std::string FTokenMechanisms;
    pid_t FPid = -1;
    int FDelivered = 0;
    uid_t FMailUid;
    gid_t FMailGid;
};

} // namespace pvtest
