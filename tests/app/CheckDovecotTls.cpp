// `postvigil --check` against a Dovecot that takes log-ins only over TLS, and over IPv6.
#include "DovecotServer.h"
#include "TestCertificates.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>

using pvtest::TDovecotServer;
using pvtest::TTestCertificates;

namespace {
struct TTlsRun {
    int exitCode = -1;
    std::string out, err;
};

void WriteAccount(const QString& home, const std::string& popClient) {
    std::ofstream(home.toStdString() + "/Dummy.Set")
        << "[ProgSet]\nIniDescript=Secure\nTimeout=30\n[RASSet]\nRASService=-1\n"
           "[POPClient]\nUserName=alice\nPassword=secret\n"
        << popClient;
}

// Runs postvigil with arguments; trustStore is the file of authorities the program trusts.
TTlsRun RunPostvigil(const QString& home, const QStringList& arguments,
                     const std::string& trustStore) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("POSTVIGIL_HOME", home + "/");
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_CACHE_HOME", home + "/cache");
    env.insert("SSL_CERT_FILE", QString::fromStdString(trustStore));
    env.insert("LC_ALL", "C");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    p.setProcessEnvironment(env);
    p.start(PV_POSTVIGIL, arguments);
    TTlsRun run;
    if (!p.waitForFinished(60000)) return run;
    run.exitCode = p.exitCode();
    run.out = p.readAllStandardOutput().toStdString();
    run.err = p.readAllStandardError().toStdString();
    return run;
}

// Runs the headless check on an account file with the given [POPClient] lines.
TTlsRun CheckWith(const QString& home, const std::string& popClient,
                  const std::string& trustStore) {
    WriteAccount(home, popClient);
    return RunPostvigil(home, {"--check"}, trustStore);
}

bool HasIpv6Loopback() {
    int s = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (s < 0) return false;
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    bool ok = ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(s);
    return ok;
}

class CheckDovecotTls : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(certificates.Error(), "");
        ASSERT_TRUE(home.isValid());
        dovecot.AddUser("alice", "secret");
        dovecot.AddMessage("alice", "From: Ann <ann@example.com>\r\nSubject: Sealed\r\n\r\nHi\r\n");
        dovecot.EnableTls(certificates.Certificate(), certificates.Key());
    }
    void Start() {
        std::string error;
        ASSERT_TRUE(dovecot.Start(error)) << error;
    }

    TTestCertificates certificates;
    TDovecotServer dovecot;
    QTemporaryDir home;
};
} // namespace

TEST_F(CheckDovecotTls, ListsOverTlsAndRefusesAnUnknownCertificateWithItsFingerprint) {
    Start();
    const std::string server =
        "Server=localhost\nDefPort=" + std::to_string(dovecot.TlsPort()) + "\nSecurity=tls\n";
    const TTlsRun ok = CheckWith(home.path(), server, certificates.Authority());
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_EQ(ok.out.substr(0, 7), "Sealed\t") << ok.out;

    const TTlsRun starttls = CheckWith(
        home.path(),
        "Server=127.0.0.1\nDefPort=" + std::to_string(dovecot.Port()) + "\nSecurity=starttls\n",
        certificates.Authority());
    EXPECT_EQ(starttls.exitCode, 0) << starttls.err;

    // Nobody is there to ask: the fingerprint is printed, the exit status is 1, and the
    // server never saw the user name.
    const std::string logBefore = dovecot.Log();
    const TTlsRun refused = CheckWith(home.path(), server, "/nonexistent-trust-store.pem");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find(certificates.Fingerprint()), std::string::npos) << refused.err;
    EXPECT_EQ(dovecot.Log().substr(logBefore.size()).find("user=<alice>"), std::string::npos);

    // Once the fingerprint is in the account file, that certificate is accepted.
    const TTlsRun pinned =
        CheckWith(home.path(), server + "CertFingerprint=" + certificates.Fingerprint() + "\n",
                  "/nonexistent-trust-store.pem");
    EXPECT_EQ(pinned.exitCode, 0) << pinned.err;
}

// An automatic account and one from before the search both end up on what the server
// offers, found at the first check and stored.
TEST_F(CheckDovecotTls, FirstCheckFindsAndStoresTheSecurity) {
    Start();
    const std::string file = home.path().toStdString() + "/Dummy.Set";
    const auto stored = [&] {
        std::ifstream in(file);
        std::string text(std::istreambuf_iterator<char>(in), {});
        std::erase(text, '\r');
        return text;
    };
    const std::string tlsPort = std::to_string(dovecot.TlsPort());
    const std::string port = std::to_string(dovecot.Port());
    for (const auto& [lines, security, found] :
         {std::tuple{"Security=auto\nDefPort=" + tlsPort, "tls", tlsPort},
          std::tuple{"Security=auto\nDefPort=" + port, "starttls", port},
          // Clear text is refused here; the check used to fail.
          std::tuple{"DefPort=" + port, "starttls", port}}) {
        SCOPED_TRACE(lines);
        const TTlsRun run =
            CheckWith(home.path(), "Server=localhost\n" + lines + "\n", certificates.Authority());
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out.substr(0, 7), "Sealed\t") << run.out;
        const std::string text = stored();
        EXPECT_NE(text.find("Security=" + std::string(security) + "\n"), std::string::npos) << text;
        EXPECT_NE(text.find("DefPort=" + found + "\n"), std::string::npos) << text;
    }
}

TEST_F(CheckDovecotTls, ListsOverIpv6Loopback) {
    if (!HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback address (::1)";
    dovecot.ListenOnIpv6Too();
    Start();
    const TTlsRun run =
        CheckWith(home.path(),
                  "Server=::1\nDefPort=" + std::to_string(dovecot.TlsPort()) + "\nSecurity=tls\n",
                  certificates.Authority());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, 7), "Sealed\t") << run.out;
}

// A server whose certificate no authority signed: the refusal says what to run, and that
// command makes the account usable without editing a file, for that certificate only.
TEST_F(CheckDovecotTls, TrustCertificateMakesASelfSignedServerUsable) {
    Start();
    const std::string noStore = "/nonexistent-trust-store.pem";
    const std::string fingerprint = certificates.Fingerprint();
    WriteAccount(home.path(), "Server=localhost\nDefPort=" + std::to_string(dovecot.TlsPort()) +
                                  "\nSecurity=tls\n");
    const std::string file = home.path().toStdString() + "/Dummy.Set";
    const TTlsRun refused = RunPostvigil(home.path(), {"--check"}, noStore);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("postvigil --trust-certificate " + fingerprint + "\n"),
              std::string::npos)
        << refused.err;

    // Another fingerprint: nothing is stored.
    const std::string other = "sha256:" + std::string(64, 'a');
    const TTlsRun wrong =
        RunPostvigil(home.path(), {"--trust-certificate", QString::fromStdString(other)}, noStore);
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("The server shows another certificate: " + fingerprint),
              std::string::npos)
        << wrong.err;
    std::ifstream before(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(before), {}).find("CertFingerprint"),
              std::string::npos);

    const std::string logBefore = dovecot.Log();
    const TTlsRun trust = RunPostvigil(
        home.path(), {"--trust-certificate", QString::fromStdString(fingerprint)}, noStore);
    EXPECT_EQ(trust.exitCode, 0) << trust.err;
    EXPECT_NE(trust.out.find("Subject: CN = localhost"), std::string::npos) << trust.out;
    EXPECT_NE(trust.out.find("Trusted for the account \"Secure\""), std::string::npos);
    // Nothing about the user went to the server.
    EXPECT_EQ(dovecot.Log().substr(logBefore.size()).find("alice"), std::string::npos);
    const TTlsRun check = RunPostvigil(home.path(), {"--check"}, noStore);
    EXPECT_EQ(check.exitCode, 0) << check.err;
    EXPECT_EQ(check.out.substr(0, 7), "Sealed\t") << check.out;
}
