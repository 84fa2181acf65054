// An OAuth 2.0 account's checks end to end: Dovecot checks every token at a local authorization
// server, the sign-in goes through a stand-in browser and the keyring is in memory.
#include "DovecotServer.h"
#include "OAuthDovecot.h"
#include "OAuthTestServer.h"
#include "ScopedSeam.h"
#include "StandInBrowser.h"
#include "TempHome.h"
#include "TestCertificates.h"
#include "mailbox/AccountFiles.h"
#include "mailbox/ConnectionTest.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/OAuthAccount.h"
#include "mailbox/Settings.h"
#include "net/Mspop.h"
#include "platform/Keyring.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace pvtest;

namespace {
struct TSignInEvents : TMailboxEvents {
    bool signIn = true;
    std::vector<std::string> reasons, protocol;
    bool SignIn(const std::string& reason) override {
        reasons.push_back(reason);
        return signIn;
    }
    void Protocol(const std::string& line) override { protocol.push_back(line); }
};

struct OAuthSession : ::testing::Test {
    TTempHome home{"pv-oauth"};
    TTestCertificates certificates;
    TOAuthTestServer authority{"alice"};
    TDovecotServer dovecot;
    TMemoryPasswordStore keyring;
    TScopedSeam<TPasswordStore*> keyringSeam{SetPasswordStore, &keyring};
    TScopedEnv trust{"SSL_CERT_FILE", certificates.Authority()};
    TStandInBrowser browser;
    TSignInEvents events;

    void SetUp() override {
        ForgetAccessTokens();
        InitMainUnit();
        std::string error;
        ASSERT_TRUE(StartOAuthDovecot(authority, dovecot, certificates,
                                      "From: Ann <ann@example.org>\r\nSubject: Hello\r\n\r\nHi\r\n",
                                      error))
            << error;
        // The account as the command line writes it, read back as the program reads it.
        TAccountSettings s = NewAccountSettings();
        s.IniDescript = "Mail";
        s.Server = "127.0.0.1";
        s.DefPort = dovecot.TlsPort();
        s.Security = kSecurityTls;
        s.UserName = "alice";
        s.RASService = -1;
        s.OAuth = {kAuthOAuth2, "", authority.AuthorizeUrl(), authority.TokenUrl(), "mail",
                   "client-1",  ""};
        ASSERT_TRUE(WriteAccountFile(AccountFileName("Mail"), s, error)) << error;
        ReadClientFile(AccountFileName("Mail"));
        ASSERT_TRUE(ClientRec.OAuth.Enabled());
    }
    void TearDown() override { ForgetAccessTokens(); }

    // One check as the window makes it: a new session on the loaded account.
    TCheckResult Check() {
        TMailboxSession session(events, ClientRec);
        session.SetAccountName("Mail");
        session.SetBrowser(browser.Opener());
        session.Apply();
        session.Client().SetLogFileName("protocol");
        const TCheckResult result = session.Check(false);
        protocol += session.Client().ProtocolLog().Text();
        TMailboxSession::WriteProtocolFile();
        return result;
    }

    std::string protocol;
};

std::string Contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
} // namespace

TEST_F(OAuthSession, FirstCheckSignsInAndLaterChecksNeedNoBrowser) {
    TCheckResult result = Check();
    ASSERT_TRUE(result.LoggedIn) << result.Error << "\n" << dovecot.Log();
    EXPECT_EQ(result.Count, 1);
    EXPECT_EQ(browser.Opened, 1);
    ASSERT_EQ(events.reasons.size(), 1u);
    EXPECT_NE(events.reasons[0].find("not signed in"), std::string::npos);
    EXPECT_NE(protocol.find("AUTH OAUTHBEARER *Hidden*"), std::string::npos) << protocol;

    // The token held in memory serves the next check; a new process renews it.
    EXPECT_TRUE(Check().LoggedIn);
    EXPECT_EQ(authority.Refreshes(), 0);
    ForgetAccessTokens();
    EXPECT_TRUE(Check().LoggedIn);
    EXPECT_EQ(authority.Refreshes(), 1);

    // The server refuses a token before its time: renewed once, and the check goes on.
    authority.ExpireAccessTokens();
    result = Check();
    EXPECT_TRUE(result.LoggedIn) << result.Error;
    EXPECT_EQ(authority.Refreshes(), 2);
    EXPECT_NE(std::find(events.protocol.begin(), events.protocol.end(),
                        "The server refused the access token: renewing it once"),
              events.protocol.end());
    EXPECT_EQ(browser.Opened, 1);

    // No token in any file the program wrote, nor in the protocol.
    for (const std::string& token : authority.IssuedTokens()) {
        EXPECT_EQ(protocol.find(token), std::string::npos);
        for (const auto& entry : fs::recursive_directory_iterator(home.Path())) {
            if (!entry.is_regular_file()) continue;
            EXPECT_EQ(Contents(entry.path()).find(token), std::string::npos) << entry.path();
        }
    }
}

TEST_F(OAuthSession, ARevokedSignInFailsTheHeadlessCheckWithItsReason) {
    ASSERT_TRUE(Check().LoggedIn);
    authority.RevokeRefreshTokens();
    authority.ExpireAccessTokens();
    events.signIn = false; // nobody to sign in: the command line's check
    const TCheckResult result = Check();
    EXPECT_FALSE(result.LoggedIn);
    EXPECT_NE(result.Error.find("sign in again"), std::string::npos) << result.Error;
    EXPECT_EQ(browser.Opened, 1);
    EXPECT_EQ(keyring.Lookup(RefreshTokenKey(KeyringKey(AccountFileName("Mail")))), std::nullopt);
}

TEST_F(OAuthSession, TheConnectionTestSeesTheSignInOfferedWithoutSigningIn) {
    TAccountSettings s = ReadAccountSettings(AccountFileName("Mail"));
    TConnectionTest test;
    const TConnectionTest::TResult result = test.Run(s);
    EXPECT_TRUE(result.Ok) << result.Text;
    EXPECT_NE(result.Text.find("OAUTHBEARER"), std::string::npos) << result.Text;
    EXPECT_EQ(authority.Introspections(), 0);
    EXPECT_EQ(browser.Opened, 0);
}
