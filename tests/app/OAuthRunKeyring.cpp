// An OAuth 2.0 account as a user runs it from the command line, with the desktop's keyring
// (GNOME Keyring on the test's private bus), a browser the desktop associates with web
// addresses, a local authorization server and Dovecot checking the tokens there.
#include "DovecotServer.h"
#include "OAuthDovecot.h"
#include "OAuthTestServer.h"
#include "PostvigilRun.h"
#include "TestCertificates.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

using namespace pvtest;

namespace {
// The stand-in browser: follows the address and its redirects, as a signed-in user's does.
const char* const kBrowser = "import sys, urllib.request\n"
                             "urllib.request.urlopen(sys.argv[1], timeout=30).read()\n";

struct OAuthRun : ::testing::Test {
    QTemporaryDir home;
    TTestCertificates certificates;
    TOAuthTestServer authority{"alice"};
    TDovecotServer dovecot;
    std::vector<std::pair<QString, QString>> env;

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(StartOAuthDovecot(authority, dovecot, certificates,
                                      "From: Ann <ann@example.org>\r\nSubject: Signed in\r\n\r\n"
                                      "Hi\r\n",
                                      error))
            << error;
        // The desktop's association of web addresses with the stand-in browser.
        const std::string root = home.path().toStdString();
        QDir().mkpath(home.filePath("data/applications"));
        QDir().mkpath(home.filePath("config"));
        std::ofstream(root + "/browser.py") << kBrowser;
        std::ofstream(root + "/data/applications/standin-browser.desktop")
            << "[Desktop Entry]\nType=Application\nName=Browser\nExec=/usr/bin/python3 " << root
            << "/browser.py %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n";
        std::ofstream(root + "/config/mimeapps.list")
            << "[Default Applications]\nx-scheme-handler/http=standin-browser.desktop\n";
        env = {{"XDG_DATA_HOME", home.filePath("data")},
               {"SSL_CERT_FILE", QString::fromStdString(certificates.Authority())}};
    }

    TRun Run(const QStringList& arguments) { return RunPostvigil(home.path(), arguments, env); }
};
} // namespace

TEST_F(OAuthRun, SignInOnceThenEveryCheckListsTheMailboxWithoutABrowser) {
    TRun run =
        Run({"--add-account", "--oauth", "other", "--client-id", "client-1", "--user", "alice",
             "--server", "127.0.0.1", "--port", QString::number(dovecot.TlsPort()), "--security",
             "tls", "--authorization-url", QString::fromStdString(authority.AuthorizeUrl()),
             "--token-url", QString::fromStdString(authority.TokenUrl()), "--scopes", "mail"});
    ASSERT_EQ(run.exitCode, 0) << run.err;

    // Not signed in: the check without a window says how to.
    run = Run({"--check"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE((run.out + run.err).find("postvigil --sign-in"), std::string::npos)
        << run.out << run.err;
    EXPECT_EQ(authority.Authorizations(), 0);

    run = Run({"--sign-in"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(authority.Authorizations(), 1);
    EXPECT_EQ(authority.CodeExchanges(), 1);

    for (int check = 1; check <= 2; ++check) {
        run = Run({"--check"});
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err << dovecot.Log();
        EXPECT_NE(run.out.find("Signed in\tAnn"), std::string::npos) << run.out;
        // Each run renews the access token with the kept refresh token: no browser again.
        EXPECT_EQ(authority.Refreshes(), check);
        EXPECT_EQ(authority.Authorizations(), 1);
    }
}
