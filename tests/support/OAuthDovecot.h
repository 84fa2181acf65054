// The OAuth 2.0 set-up of the sign-in tests: a local authorization server and a Dovecot with
// TLS that checks every token there.
#pragma once

#include <string>

namespace pvtest {

class TDovecotServer;
class TOAuthTestServer;
class TTestCertificates;

// Starts authority, then dovecot with TLS from certificates and one user, alice, whose mailbox
// holds message and whose tokens dovecot checks at authority. False with the reason in error.
bool StartOAuthDovecot(TOAuthTestServer& authority, TDovecotServer& dovecot,
                       const TTestCertificates& certificates, const std::string& message,
                       std::string& error);

} // namespace pvtest
