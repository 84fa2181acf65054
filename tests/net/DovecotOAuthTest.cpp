// The POP3 client's OAuth 2.0 log-in (SASL OAUTHBEARER and XOAUTH2) against a real Dovecot that
// checks every token at a local introspection address.
#include "DovecotServer.h"
#include "NetFixture.h"
#include "OAuthTestServer.h"
#include "TestCertificates.h"
#include "net/Mspop.h"

#include <cstdlib>
#include <memory>

using pvtest::TDovecotServer;
using pvtest::TOAuthTestServer;
using pvtest::TTestCertificates;

namespace {
const char* const kMail = "From: Ann <ann@example.com>\r\nSubject: signed in\r\n\r\nhello\r\n";

class DovecotOAuthTest : public TNetTest {
protected:
    void SetUp() override {
        ASSERT_EQ(certificates.Error(), "");
        std::string error;
        ASSERT_TRUE(authority.Start(error)) << error;
        ::setenv("SSL_CERT_FILE", certificates.Authority().c_str(), 1);
        client.SetTimeOut(30); // a guard; no test here should come near it
        client.SetUserName("alice");
        client.SetAuthentication(auToken);
        client.SetMailMessage(&message);
        client.SetLogFileName("protocol");
        client.SetHost("127.0.0.1");
    }
    void TearDown() override { ::unsetenv("SSL_CERT_FILE"); }

    // A new server offering the token mechanisms, TLS optional on its plain port.
    void Start(TmsSecurity security, const std::string& mechanisms = "xoauth2 oauthbearer") {
        dovecot = std::make_unique<TDovecotServer>();
        dovecot->AddUser("alice", "secret");
        dovecot->AddMessage("alice", kMail);
        dovecot->EnableTls(certificates.Certificate(), certificates.Key(), true);
        dovecot->EnableOAuth(authority.IntrospectionUrl(), mechanisms);
        std::string error;
        ASSERT_TRUE(dovecot->Start(error)) << error;
        client.SetPort(security == secTls ? dovecot->TlsPort() : dovecot->Port());
        client.SetSecurity(security);
    }

    std::string Protocol() { return client.ProtocolLog().Text(); }

    TTestCertificates certificates;
    TOAuthTestServer authority{"alice"};
    std::unique_ptr<TDovecotServer> dovecot;
    TmsPOPClient client;
    TmsMessage message;
};
} // namespace

TEST_F(DovecotOAuthTest, TokenLogsInWithThePreferredMechanismAndNeverShowsTheToken) {
    struct TCase {
        const char* Offered;
        TmsSecurity Security;
        std::size_t TokenLength; // long ones go after the server's continuation
        const char* Expected;
    };
    for (const TCase& c : {TCase{"xoauth2 oauthbearer", secTls, 0, "OAUTHBEARER"},
                           TCase{"xoauth2", secStartTls, 0, "XOAUTH2"},
                           TCase{"oauthbearer", secTls, 2000, "OAUTHBEARER"}}) {
        SCOPED_TRACE(c.Offered);
        Start(c.Security, c.Offered);
        const std::string token = authority.IssueAccessToken(c.TokenLength);
        client.SetAccessToken(token);
        client.ProtocolLog().Clear();
        client.Login();
        EXPECT_EQ(client.MessageCount(), 1);
        EXPECT_EQ(SaslMechanismName(client.TokenMechanism()), std::string(c.Expected));
        const std::string shown =
            c.TokenLength ? "*Hidden*" : "AUTH " + std::string(c.Expected) + " *Hidden*";
        EXPECT_GE(client.ProtocolLog().IndexOf(shown), 0) << Protocol();
        EXPECT_EQ(Protocol().find(token.substr(3, 20)), std::string::npos);
        client.Logout();
    }
}

TEST_F(DovecotOAuthTest, RefusedTokenEndsWithTheServersRefusalAndTheConnectionInStep) {
    for (const char* offered : {"oauthbearer", "xoauth2"}) {
        SCOPED_TRACE(offered);
        Start(secTls, offered);
        client.SetAccessToken(authority.IssueAccessToken());
        authority.ExpireAccessTokens();
        const std::string refusal = MessageOf<EmsTokenRefusedError>([&] { client.Login(); });
        EXPECT_EQ(refusal.rfind("-ERR", 0), 0u) << Protocol();
        // The error challenge was answered and its reason shown.
        EXPECT_NE(Protocol().find("Server's reason: {"), std::string::npos) << Protocol();
        ASSERT_TRUE(client.IsConnected());
        client.Logout();
        EXPECT_EQ(client.LastResponse.rfind("+OK", 0), 0u);
    }
}

TEST_F(DovecotOAuthTest, ClearTextConnectionNeverCarriesTheToken) {
    Start(secNone);
    client.SetAccessToken(authority.IssueAccessToken());
    const std::string refusal = MessageOf<EmsServerError>([&] { client.Login(); });
    EXPECT_NE(refusal.find("needs an encrypted connection"), std::string::npos) << refusal;
    EXPECT_EQ(Protocol().find("AUTH"), std::string::npos);
    EXPECT_EQ(authority.Introspections(), 0);
}
