// The POP3 client against a real server that requires TLS, with certificates the test makes.
#include "DovecotServer.h"
#include "NetFixture.h"
#include "TestCertificates.h"
#include "net/MsTls.h"
#include "net/Mspop.h"
#include "net/SecurityProbe.h"

#include <cstdlib>

using pvtest::TDovecotServer;
using pvtest::TTestCertificates;

namespace {
const char* const kMail = "From: Ann <ann@example.com>\r\nSubject: over TLS\r\n\r\n"
                          "first line\r\n.dot at the start\r\n..two dots\r\n.\r\nlast\r\n";

class DovecotTlsTest : public TNetTest {
protected:
    void SetUp() override {
        ASSERT_EQ(certificates.Error(), "");
        dovecot.AddUser("alice", "secret");
        dovecot.AddMessage("alice", kMail);
        client.SetTimeOut(30); // a guard; no test here should come near it
        client.SetUserName("alice");
        client.SetPassword("secret");
        client.SetMailMessage(&message);
        client.SetLogFileName("protocol");
        Trust(certificates.Authority());
    }
    void TearDown() override { ::unsetenv("SSL_CERT_FILE"); }

    // The trust store the client verifies against (the system's stands in for it).
    static void Trust(const std::string& file) { ::setenv("SSL_CERT_FILE", file.c_str(), 1); }

    void Start(TmsSecurity security, const std::string& host = "127.0.0.1") {
        dovecot.EnableTls(certificates.Certificate(), certificates.Key());
        std::string error;
        ASSERT_TRUE(dovecot.Start(error)) << error;
        client.SetHost(host);
        client.SetPort(security == secTls ? dovecot.TlsPort() : dovecot.Port());
        client.SetSecurity(security);
    }

    bool LogHasUser() const { return dovecot.Log().find("user=<alice>") != std::string::npos; }

    // The stored message, byte for byte, as RETR brings it.
    void ExpectRetrieved() {
        TRecordingMessage recording;
        client.SetMailMessage(&recording);
        client.SetCurrentMessage(0);
        client.RetrieveMessage();
        ASSERT_EQ(recording.Loads.size(), 1u);
        // Dot-stuffing undone, nothing else changed.
        EXPECT_EQ(recording.Loads[0], kMail);
    }

    TTestCertificates certificates;
    TDovecotServer dovecot;
    TmsPOPClient client;
    TmsMessage message;
};

int Find(const TStringList& lines, const std::string& text) {
    for (int i = 0; i < lines.Count(); ++i)
        if (lines[i] == text) return i;
    return -1;
}
} // namespace

TEST_F(DovecotTlsTest, ImplicitTlsLogsInAndRetrievesByteExact) {
    Start(secTls);
    client.Login();
    EXPECT_TRUE(client.Encrypted());
    EXPECT_EQ(client.MessageCount(), 1);
    EXPECT_EQ(client.SecurityDescription().rfind("TLS 1.", 0), 0u);
    EXPECT_NE(client.SecurityDescription().find(", certificate verified for 127.0.0.1"),
              std::string::npos);
    EXPECT_GE(Find(client.ProtocolLog(), client.SecurityDescription()), 0);
    ExpectRetrieved();
    client.Logout();
    EXPECT_EQ(client.SecurityDescription(), "no encryption");
}

TEST_F(DovecotTlsTest, StlsUpgradesBeforeTheUserNameIsSent) {
    Start(secStartTls, "localhost");
    client.Login();
    EXPECT_TRUE(client.Encrypted());
    const TStringList& log = client.ProtocolLog();
    const int stls = Find(log, "STLS");
    const int secured = Find(log, client.SecurityDescription());
    const int user = Find(log, "USER alice");
    ASSERT_GE(stls, 0);
    EXPECT_LT(stls, secured);
    EXPECT_LT(secured, user);
    EXPECT_NE(client.SecurityDescription().find("verified for localhost"), std::string::npos);
    ExpectRetrieved();
    client.Logout();
}

TEST_F(DovecotTlsTest, UnknownAuthorityIsRefusedWithReasonAndFingerprint) {
    Trust("/nonexistent-trust-store.pem");
    Start(secTls);
    std::string fingerprint;
    try {
        client.Login();
        ADD_FAILURE() << "log-in went through";
    } catch (const EmsCertificateError& e) {
        fingerprint = e.Fingerprint;
        EXPECT_NE(e.Message.find("local issuer"), std::string::npos) << e.Message;
        EXPECT_NE(e.Message.find(certificates.Fingerprint()), std::string::npos) << e.Message;
    }
    EXPECT_EQ(fingerprint, certificates.Fingerprint());
    EXPECT_FALSE(client.IsConnected());
    EXPECT_FALSE(LogHasUser()) << dovecot.Log();

    // Over STLS the same refusal comes before USER too.
    client.SetSecurity(secStartTls);
    client.SetPort(dovecot.Port());
    EXPECT_NE(MessageOf<EmsCertificateError>([&] { client.Login(); }), "");
    EXPECT_EQ(Find(client.ProtocolLog(), "USER alice"), -1);
    EXPECT_FALSE(LogHasUser()) << dovecot.Log();
}

TEST_F(DovecotTlsTest, SecuritySearchFindsTlsThenStlsWithoutSendingTheUser) {
    Start(secNone);
    EXPECT_EQ(FindSecurity(client, ProbePorts(dovecot.TlsPort())), secTls);
    EXPECT_EQ(client.Port(), dovecot.TlsPort());
    // On the STLS port the TLS attempt meets a greeting in clear text; STLS follows.
    EXPECT_EQ(FindSecurity(client, ProbePorts(dovecot.Port())), secStartTls);
    EXPECT_EQ(client.Port(), dovecot.Port());
    EXPECT_FALSE(client.IsConnected());
    client.Login();
    EXPECT_TRUE(client.Encrypted());
    client.Logout();

    // A certificate that cannot be verified is the finding: nothing else is tried.
    Trust("/nonexistent-trust-store.pem");
    const std::string error = MessageOf<EmsCertificateError>([&] {
        FindSecurity(client, {dovecot.TlsPort(), dovecot.Port()});
    });
    EXPECT_NE(error.find(certificates.Fingerprint()), std::string::npos) << error;
    // Still set to the TLS attempt: STLS was not tried after it.
    EXPECT_EQ(client.Security(), secTls);
    EXPECT_EQ(client.Port(), dovecot.TlsPort());
}

TEST_F(DovecotTlsTest, StoredFingerprintAcceptsThatCertificateAndNoOther) {
    Trust("/nonexistent-trust-store.pem");
    Start(secTls);
    client.SetCertFingerprint(certificates.Fingerprint());
    client.Login();
    EXPECT_NE(client.SecurityDescription().find("trusted by its fingerprint"), std::string::npos);
    client.Logout();

    // Another fingerprint refuses even a certificate the trust store would accept.
    Trust(certificates.Authority());
    std::string other = certificates.Fingerprint();
    other.back() = other.back() == '0' ? '1' : '0';
    client.SetCertFingerprint(other);
    const std::string error = MessageOf<EmsCertificateError>([&] { client.Login(); });
    EXPECT_NE(error.find("not the certificate trusted for this account"), std::string::npos);
    EXPECT_FALSE(client.IsConnected());
}

class DovecotTlsNames : public TNetTest {};

TEST_F(DovecotTlsNames, CertificateForAnotherHostIsRefused) {
    TTestCertificates certificates({"pop.example.org"});
    ASSERT_EQ(certificates.Error(), "");
    ::setenv("SSL_CERT_FILE", certificates.Authority().c_str(), 1);
    TDovecotServer dovecot;
    dovecot.AddUser("alice", "secret");
    dovecot.EnableTls(certificates.Certificate(), certificates.Key());
    std::string error;
    ASSERT_TRUE(dovecot.Start(error)) << error;
    TmsPOPClient client;
    client.SetTimeOut(30);
    client.SetHost("127.0.0.1");
    client.SetPort(dovecot.TlsPort());
    client.SetSecurity(secTls);
    client.SetUserName("alice");
    client.SetPassword("secret");
    const std::string message = MessageOf<EmsCertificateError>([&] { client.Login(); });
    EXPECT_NE(message.find("mismatch"), std::string::npos) << message;
    ::unsetenv("SSL_CERT_FILE");
}
