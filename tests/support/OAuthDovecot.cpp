#include "OAuthDovecot.h"

#include "DovecotServer.h"
#include "OAuthTestServer.h"
#include "TestCertificates.h"

namespace pvtest {

bool StartOAuthDovecot(TOAuthTestServer& authority, TDovecotServer& dovecot,
                       const TTestCertificates& certificates, const std::string& message,
                       std::string& error) {
    error = certificates.Error();
    if (!error.empty() || !authority.Start(error)) return false;
    dovecot.AddUser("alice", "unused");
    dovecot.AddMessage("alice", message);
    dovecot.EnableTls(certificates.Certificate(), certificates.Key());
    dovecot.EnableOAuth(authority.IntrospectionUrl());
    return dovecot.Start(error);
}

} // namespace pvtest
